#include "transport/tracing_link.h"

#include <cstdio>
#include <string>

namespace markwire {

std::string DescribeBytes(std::span<const std::uint8_t> bytes) {
  std::string text = "\"";
  std::string hex;
  char tmp[8];
  for (std::uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7f && b != '"' && b != '\\') {
      text += static_cast<char>(b);
    } else {
      std::snprintf(tmp, sizeof tmp, "\\x%02X", b);
      text += tmp;
    }
    std::snprintf(tmp, sizeof tmp, hex.empty() ? "%02X" : " %02X", b);
    hex += tmp;
  }
  text += "\"";
  if (!hex.empty()) text += "  [" + hex + "]";
  return text;
}

void TracingLink::Line(std::string_view what, std::span<const std::uint8_t> bytes,
                       std::string_view extra) {
  char head[64];
  const double ms = static_cast<double>(clock_.NowUs() - originUs_) / 1000.0;
  std::snprintf(head, sizeof head, "%10.3f ms  %-6.*s", ms, static_cast<int>(what.size()),
                what.data());
  std::string line = head;
  line += extra;
  if (what == "->" || what == "<-")
    line.append(extra.empty() ? "" : "  ").append(DescribeBytes(bytes));
  notifier_.WireTrace(line);
}

bool TracingLink::Open(const std::string& device, const LineSettings& settings) {
  originUs_ = clock_.NowUs();
  const bool ok = inner_->Open(device, settings);
  if (notifier_.WantsWireTrace()) {
    // A failed open names the device and the OS's reason.
    Line("open", {}, ok ? device : inner_->LastError());
  }
  return ok;
}

unsigned TracingLink::Write(std::span<const std::uint8_t> data) {
  const unsigned n = inner_->Write(data);
  if (notifier_.WantsWireTrace()) Line("->", data.first(n), {});
  return n;
}

unsigned TracingLink::Read(std::span<std::uint8_t> data, unsigned timeoutMs) {
  const unsigned n = inner_->Read(data, timeoutMs);
  if (notifier_.WantsWireTrace()) {
    char extra[48];
    std::snprintf(extra, sizeof extra, "(%u of %zu within %u ms)", n, data.size(), timeoutMs);
    Line("<-", data.first(n), extra);
  }
  return n;
}

std::size_t TracingLink::Purge() {
  const std::size_t dropped = inner_->Purge();
  if (notifier_.WantsWireTrace()) {
    char extra[48] = "";
    if (dropped > 0) std::snprintf(extra, sizeof extra, "(%zu bytes dropped)", dropped);
    Line("purge", {}, extra);
  }
  return dropped;
}

void TracingLink::Close() {
  const bool wasValid = inner_->IsValid();
  inner_->Close();
  if (notifier_.WantsWireTrace() && wasValid) Line("close", {}, {});
}

}  // namespace markwire
