#pragma once

#include <string>

namespace markwire {

// The device that serial port number `port` (1 = the first port) names on
// this platform; empty when the number names no port.
std::string DeviceForPortNumber(int port);

}  // namespace markwire
