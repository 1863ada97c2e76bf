#include "transport/port_names.h"

namespace markwire {

// Port 1 is the first serial port, /dev/ttyS0.
std::string DeviceForPortNumber(int port) {
  if (port < 1) return {};
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace markwire
