#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvak {

// One serial port of this computer, with what a person needs to tell it from the others. Texts
// are UTF-8; a field the system does not know is empty.
struct SerialPortInfo {
    std::string name;               // what --device takes: "/dev/ttyUSB0", "COM3"
    std::vector<std::string> links; // names that stay with the device ("/dev/serial/by-id/...")
    std::string driver;             // "ftdi_sio", "cdc_acm", "serial"; "FTDIBUS", "usbser"
    std::string description;        // "FT232R USB UART", "USB Serial Port (COM3)"
    std::string usbId;              // "0403:6001" for a USB adapter
    std::optional<bool> accessible; // whether this user may open it, where that can be told
    std::string group;              // the group that may, when this user may not
};

// The serial ports this computer has, in no particular order. One implementation per
// platform; throws std::system_error when the system cannot be asked at all.
std::vector<SerialPortInfo> listSerialPorts();

} // namespace tolvak
