// Where the CLI finds the files it ships with (the sample card format).
#pragma once

#include <string>
#include <vector>

namespace markwire::cli {

// The folders that may hold them: $MARKWIRE_DATA_DIR alone when it is set;
// else, from the executable's own place, the installed <datadir>/markwire and
// a build directory's share/markwire.
std::vector<std::string> DataDirs();

// The first of DataDirs() holding `name`; empty when none does, and then
// `looked` lists the folders tried.
std::string FindDataFile(const std::string& name, std::string& looked);

}  // namespace markwire::cli
