#pragma once

#include <string>
#include <vector>

#include "base/serial_ports.h"

namespace tolvak::posix {

// The serial ports found under a sysfs root ("/sys") and a device root ("/dev"): each tty of
// /sys/class/tty that belongs to a device and has a node, with its driver, its USB identity and
// the /dev/serial/by-id names pointing at it. The roots are parameters so that a fake tree can
// stand in for the system's.
std::vector<SerialPortInfo> listSerialPorts(const std::string& sysRoot, const std::string& devRoot);

} // namespace tolvak::posix
