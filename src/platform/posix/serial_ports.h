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

// The group whose members may read and write the device node; empty when its group may not (a
// node only its owner opens) or the node cannot be looked at. What a refused user should join.
std::string groupThatMayOpen(const std::string& node);

} // namespace tolvak::posix
