// What the session hands to the command families above it: the file an "S"
// or "W" command names, an "I" command whose operation an earlier command
// announced, and a card's barcode. The session knows when; the families
// know how. Defined here, implemented in commands/, so that the session
// depends on nothing above it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace markwire {

class OmrInfo;

class CommandFamilies {
 public:
  virtual ~CommandFamilies() = default;
  // "S": the card format file at `path`; 255 sent, 0 failed.
  virtual int FormatFile(OmrInfo& session, const std::string& path) = 0;
  // "W": the reader program the command names; 255 sent, 0 failed.
  virtual int ProgramFile(OmrInfo& session, std::string_view command) = 0;
  // "I": the operation an earlier command announced, or a plain exchange.
  virtual int Announced(OmrInfo& session, const std::string& command) = 0;
  // A card's data block just received (`dataBytes` in the session's receive
  // buffer) laid out with its barcode in `buffer`: what OmrG returns.
  virtual int WithBarcode(OmrInfo& session, char* buffer, std::size_t dataBytes) = 0;
};

}  // namespace markwire
