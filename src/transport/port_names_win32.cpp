#include "transport/port_names.h"

namespace markwire {

// Port n is COMn, opened through the device namespace so that COM10 and up
// work as well as COM1.
std::string DeviceForPortNumber(int port) {
  if (port < 1) return {};
  return "\\\\.\\COM" + std::to_string(port);
}

}  // namespace markwire
