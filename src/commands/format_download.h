// Downloading a card format: "S a.txt/", the format's commands one exchange
// at a time, then "EN/". The library reads a few of the commands for itself:
// "T" (barcode text after the first data byte), "L" (the sync count), "f"
// (the barcode line, rewritten so that its second number is the smaller),
// and, in a file, "F" (dropped when short, refused when a field is zero).
#pragma once

#include <string>
#include <string_view>

namespace markwire {

class OmrInfo;

// The largest format file the library reads; a card format is a few
// kilobytes, and a larger file is taken as unreadable rather than read whole.
inline constexpr std::size_t kMaxFormatFile = 16u << 20;

// 255 when the reader took the whole format, 0 when it did not, -1 when the
// port was found closed.
int SendFormatFile(OmrInfo& session, const std::string& path);
int SendFormatText(OmrInfo& session, std::string_view text);

// DownLoadFormatFile's choice of form: an argument whose fourth character
// from the end is "B" is a format text, anything else a path.
bool IsFormatText(std::string_view argument);

}  // namespace markwire
