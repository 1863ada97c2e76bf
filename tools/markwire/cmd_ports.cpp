// markwire ports: the serial devices of this machine and what the system
// knows of them, to find the one a reader hangs on.
#include <algorithm>
#include <array>
#include <cstdio>

#include "cli.h"
#include "operator_commands.h"
#include "serial_ports.h"

namespace markwire::cli {

namespace ports_detail {

std::string UsbId(const SerialPort& port) {
  if (!port.usb) return "-";
  return port.usbInfo.vendorId + ":" + port.usbInfo.productId;
}

std::string Description(const SerialPort& port) {
  if (!port.uart) return "no UART detected";
  if (!port.usb) return "-";
  std::string text = port.usbInfo.manufacturer;
  if (!port.usbInfo.product.empty()) text += (text.empty() ? "" : " ") + port.usbInfo.product;
  return text.empty() ? "-" : text;
}

std::string Links(const SerialPort& port) {
  std::string text;
  for (const auto& link : port.byId) text += (text.empty() ? "" : " ") + link;
  for (const auto& link : port.byPath) text += (text.empty() ? "" : " ") + link;
  return text;
}

nlohmann::json PortJson(const SerialPort& port) {
  nlohmann::json out{{"device", port.device}, {"name", port.name},
                     {"driver", port.driver}, {"uart", port.uart},
                     {"by_id", port.byId},    {"by_path", port.byPath}};
  if (port.usb) {
    out["usb"] = {{"vendor_id", port.usbInfo.vendorId},
                  {"product_id", port.usbInfo.productId},
                  {"manufacturer", port.usbInfo.manufacturer},
                  {"product", port.usbInfo.product},
                  {"serial", port.usbInfo.serial}};
  }
  return out;
}

// One device a line, the columns padded to the widest entry; the links go
// last, unpadded.
void PrintTable(const std::vector<SerialPort>& ports) {
  std::vector<std::array<std::string, 6>> rows;
  for (const auto& port : ports) {
    rows.push_back({port.device, port.driver.empty() ? "-" : port.driver, UsbId(port),
                    port.usb && !port.usbInfo.serial.empty() ? port.usbInfo.serial : "-",
                    Description(port), Links(port)});
  }
  std::array<std::size_t, 6> width{};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c + 1 == row.size()) {
        line += row[c];
      } else {
        line += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace ports_detail

void AddPortsCommand(CLI::App& app, Globals& globals) {
  struct Options {
    bool json = false;
    bool all = false;
    std::string root;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "ports",
      "List the serial devices: driver, USB vendor:product, serial number, description and the "
      "/dev/serial/by-id and by-path links naming each");
  command->add_flag("--json", options->json, "One JSON object per device");
  command->add_flag("--all", options->all,
                    "Also list the legacy ttyS ports where no UART was detected");
  // Where sysfs and /dev are looked for (ROOT/sys, ROOT/dev): for tests.
  command->add_option("--root", options->root)->group("");
  command->callback([options, &globals] {
    const std::string sys = options->root.empty() ? "/sys" : options->root + "/sys";
    const std::string dev = options->root.empty() ? "/dev" : options->root + "/dev";
    std::vector<SerialPort> ports = ListSerialPorts(sys, dev);
    if (!options->all) {
      std::erase_if(ports, [](const SerialPort& port) { return !port.uart; });
    }
    if (options->json) {
      for (const auto& port : ports) PrintJson(ports_detail::PortJson(port));
    } else if (ports.empty()) {
      Complain("no serial devices found");
    } else {
      ports_detail::PrintTable(ports);
    }
    globals.exitStatus = 0;
  });
}

}  // namespace markwire::cli
