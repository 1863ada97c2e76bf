#include "serial_ports.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

namespace markwire::cli {

namespace fs = std::filesystem;

namespace serial_ports_detail {

// The first line of a sysfs attribute, without its newline; empty when the
// file is missing or unreadable.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

// The name a link points at, whatever form its target takes: udev writes
// relative targets ("../../ttyUSB0"), a hand-made link may be absolute.
std::string LinkTargetName(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return {};
  return target.lexically_normal().filename().string();
}

// Links in `folder` by the tty name each one points at.
std::map<std::string, std::vector<std::string>> LinksByTarget(const fs::path& folder) {
  std::map<std::string, std::vector<std::string>> links;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = LinkTargetName(it->path());
    if (!name.empty()) links[name].push_back(it->path().string());
  }
  for (auto& [name, paths] : links) std::sort(paths.begin(), paths.end(), NaturalLess);
  return links;
}

// From the tty's device up to the USB device that carries idVendor: a
// ttyUSB's device is the usb-serial port, under the interface, under the
// device; a ttyACM's is the interface. The walk stays inside the sysfs root.
bool FindUsbDevice(const fs::path& device, const fs::path& sysRoot, UsbInfo& info) {
  std::error_code ec;
  fs::path dir = fs::canonical(device, ec);
  if (ec) return false;
  const fs::path root = fs::canonical(sysRoot, ec);
  if (ec) return false;
  const std::string rootText = root.string();
  for (int depth = 0; depth < 8; ++depth) {
    const std::string text = dir.string();
    if (text.size() <= rootText.size() || text.compare(0, rootText.size(), rootText) != 0) break;
    if (fs::exists(dir / "idVendor", ec)) {
      info.vendorId = ReadAttribute(dir / "idVendor");
      info.productId = ReadAttribute(dir / "idProduct");
      info.manufacturer = ReadAttribute(dir / "manufacturer");
      info.product = ReadAttribute(dir / "product");
      info.serial = ReadAttribute(dir / "serial");
      return true;
    }
    dir = dir.parent_path();
  }
  return false;
}

}  // namespace serial_ports_detail

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      // Leading zeros aside, the longer run is the greater number.
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int order = a.compare(si, ei - si, b, sj, ej - sj);
      if (order != 0) return order < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::vector<SerialPort> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  using namespace serial_ports_detail;
  const fs::path dev(devRoot);
  const auto byId = LinksByTarget(dev / "serial" / "by-id");
  const auto byPath = LinksByTarget(dev / "serial" / "by-path");

  std::vector<SerialPort> ports;
  std::error_code ec;
  const fs::path classTty = fs::path(sysRoot) / "class" / "tty";
  for (fs::directory_iterator it(classTty, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    std::error_code exists;
    // Virtual terminals, the console and pseudo-terminals have no device.
    if (!fs::exists(entry / "device", exists)) continue;
    SerialPort port;
    port.name = entry.filename().string();
    port.device = (dev / port.name).string();
    port.driver = LinkTargetName(entry / "device" / "driver");
    if (port.name.starts_with("ttyS")) port.uart = ReadAttribute(entry / "type") != "0";
    port.usb = FindUsbDevice(entry / "device", sysRoot, port.usbInfo);
    if (const auto found = byId.find(port.name); found != byId.end()) port.byId = found->second;
    if (const auto found = byPath.find(port.name); found != byPath.end())
      port.byPath = found->second;
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPort& a, const SerialPort& b) { return NaturalLess(a.name, b.name); });
  return ports;
}

}  // namespace markwire::cli
