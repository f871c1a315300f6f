#pragma once

#include <string>
#include <vector>

#include "base/serial_ports.h"

namespace tolvak::cli {

// The order a person expects: by name, numbers by value (COM2 before COM10, ttyS2 before
// ttyS10).
void sortPorts(std::vector<SerialPortInfo>& ports);

// A table: port, driver, description; a port's stable names and a missing permission on lines
// of their own below it. "no serial ports found" when there are none.
std::string portsText(const std::vector<SerialPortInfo>& ports);

// One JSON array on one line; every port has every key (empty, or null where not known).
std::string portsJson(const std::vector<SerialPortInfo>& ports);

} // namespace tolvak::cli
