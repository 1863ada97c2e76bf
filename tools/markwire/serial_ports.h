// What the system knows of its serial devices, read from sysfs and the
// /dev/serial link folders. The roots are parameters so that a test can
// stand a made-up tree in their place.
#pragma once

#include <string>
#include <vector>

namespace markwire::cli {

struct UsbInfo {
  std::string vendorId, productId;  // four hex digits each, as sysfs gives them
  std::string manufacturer, product, serial;
};

struct SerialPort {
  std::string name;    // "ttyUSB0"
  std::string device;  // "/dev/ttyUSB0" (under the device root)
  std::string driver;  // "ftdi_sio", "cdc_acm", "serial8250"; empty when none is bound
  // False for a legacy 8250 port whose type is 0: the kernel lists the
  // port on every PC, but no chip answered behind it.
  bool uart = true;
  bool usb = false;
  UsbInfo usbInfo;
  std::vector<std::string> byId, byPath;  // full paths of the links naming it
};

// Every tty under <sysRoot>/class/tty with a real device behind it, in
// natural order of name (ttyS2 before ttyS10). `devRoot` is where /dev is:
// device paths and the serial/by-id and serial/by-path links are taken there.
std::vector<SerialPort> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot);

// Orders names with their digit runs compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace markwire::cli
