#include "tolvak/output/port_list.h"

#include <gtest/gtest.h>

namespace tolvak::cli {
namespace {

struct ListCase {
    std::vector<SerialPortInfo> ports; // as the probe finds them
    const char* text;
    const char* json;
};

class PortListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(PortListTest, SortedTableAndJson) {
    std::vector<SerialPortInfo> ports = GetParam().ports;
    sortPorts(ports);
    EXPECT_EQ(portsText(ports), GetParam().text);
    EXPECT_EQ(portsJson(ports), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortListTest,
    ::testing::Values(
        ListCase{{}, "no serial ports found\n", "[]"},
        ListCase{
            {{"COM10", {}, "Serial", "Communications Port (COM10)", "", std::nullopt, ""},
             {"COM3", {}, "FTDIBUS", "USB Serial Port (COM3)", "0403:6001", std::nullopt, ""}},
            "PORT   DRIVER   DESCRIPTION\n"
            "COM3   FTDIBUS  USB Serial Port (COM3), USB 0403:6001\n"
            "COM10  Serial   Communications Port (COM10)\n",
            R"j([{"name":"COM3","links":[],"driver":"FTDIBUS","description":"USB Serial Port )j"
            R"j((COM3)","usbId":"0403:6001","accessible":null,"group":""},{"name":"COM10",)j"
            R"j("links":[],"driver":"Serial","description":"Communications Port (COM10)",)j"
            R"j("usbId":"","accessible":null,"group":""}])j"},
        ListCase{{{"/dev/ttyUSB0",
                   {"/dev/serial/by-id/usb-FTDI-port0"},
                   "ftdi_sio",
                   "",
                   "0403:6001",
                   false,
                   "dialout"},
                  {"/dev/ttyS0", {}, "serial", "", "", true, ""}},
                 "PORT          DRIVER    DESCRIPTION\n"
                 "/dev/ttyS0    serial\n"
                 "/dev/ttyUSB0  ftdi_sio  USB 0403:6001\n"
                 "  stable name: /dev/serial/by-id/usb-FTDI-port0\n"
                 "  no access for this user: group dialout may\n",
                 R"j([{"name":"/dev/ttyS0","links":[],"driver":"serial","description":"",)j"
                 R"j("usbId":"","accessible":true,"group":""},{"name":"/dev/ttyUSB0","links":)j"
                 R"j(["/dev/serial/by-id/usb-FTDI-port0"],"driver":"ftdi_sio","description":"",)j"
                 R"j("usbId":"0403:6001","accessible":false,"group":"dialout"}])j"}));

} // namespace
} // namespace tolvak::cli
