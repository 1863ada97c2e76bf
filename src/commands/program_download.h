// Downloading a program file to the reader: "A a.hex/", the reader's "RD",
// then every file byte as a command of its own (the byte and "/"), each
// echoed, and the reader's "EN" at the end.
#pragma once

#include <string>
#include <string_view>

namespace markwire {

class OmrInfo;

// 255 when the reader confirmed the end, 0 on any failure, -1 when the port
// was found closed. Reports progress to the session's notifier.
int SendProgramFile(OmrInfo& session, const std::string& path);

// The file a "W" command names: the command up to its first "/" without any
// "W", blank or "/" (so "W C:\FW\NEW.HEX/" names "C:\F\NE.HEX").
std::string ProgramFileName(std::string_view command);

}  // namespace markwire
