#include "platform/posix/serial_ports.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tolvak/output/port_list.h"

namespace tolvak::posix {
namespace {

namespace fs = std::filesystem;

// A sysfs and /dev tree laid out as the kernel and udev lay them out, in a temporary folder.
class FakeSystem {
  public:
    FakeSystem()
        : m_root(fs::temp_directory_path() / ("tolvak-ports-" + std::to_string(::getpid()))) {
        fs::remove_all(m_root);
    }
    ~FakeSystem() { fs::remove_all(m_root); }

    void file(const std::string& path, const std::string& text) {
        fs::create_directories((m_root / path).parent_path());
        std::ofstream(m_root / path) << text << '\n';
    }
    void link(const std::string& path, const std::string& target) {
        fs::create_directories((m_root / path).parent_path());
        fs::create_symlink(m_root / target, m_root / path);
    }
    // A tty device under sys/devices/DEVICE, its class entry and, if asked, its /dev node.
    void tty(const std::string& name, const std::string& device, bool node = true) {
        const std::string dir = "sys/devices/" + device + "/tty/" + name;
        file(dir + "/dev", "4:64");
        if (!device.empty()) link(dir + "/device", "sys/devices/" + device);
        link("sys/class/tty/" + name, dir);
        if (node) file("dev/" + name, "");
    }
    std::string path(const std::string& relative) const { return (m_root / relative).string(); }

  private:
    fs::path m_root;
};

struct Expected {
    const char* name;
    const char* driver;
    const char* description;
    const char* usbId;
    const char* link; // "" for none
};

TEST(SerialPortsProbe, FindsPortsWithTheirDriversAndStableNames) {
    FakeSystem sys;
    // An FTDI adapter: usb-serial port device below the USB interface.
    const std::string ftdi = "pci0000:00/usb1/1-2";
    sys.file("sys/devices/" + ftdi + "/idVendor", "0403");
    sys.file("sys/devices/" + ftdi + "/idProduct", "6001");
    sys.file("sys/devices/" + ftdi + "/manufacturer", "FTDI");
    sys.file("sys/devices/" + ftdi + "/product", "FT232R USB UART");
    sys.link("sys/devices/" + ftdi + "/1-2:1.0/ttyUSB0/driver",
             "sys/bus/usb-serial/drivers/ftdi_sio");
    sys.tty("ttyUSB0", ftdi + "/1-2:1.0/ttyUSB0");
    sys.link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "dev/ttyUSB0");
    // A CDC ACM device whose product names its maker already.
    const std::string acm = "pci0000:00/usb1/1-3";
    sys.file("sys/devices/" + acm + "/idVendor", "2341");
    sys.file("sys/devices/" + acm + "/idProduct", "0043");
    sys.file("sys/devices/" + acm + "/manufacturer", "Arduino");
    sys.file("sys/devices/" + acm + "/product", "Arduino Uno");
    sys.link("sys/devices/" + acm + "/1-3:1.0/driver", "sys/bus/usb/drivers/cdc_acm");
    sys.tty("ttyACM0", acm + "/1-3:1.0");
    // A UART behind the serial-base port device of newer kernels, and one without it.
    sys.link("sys/devices/pnp0/00:05/driver", "sys/bus/pnp/drivers/serial");
    for (const char* level : {"pnp0/00:05/00:05:0", "pnp0/00:05/00:05:0/00:05:0.0"})
        sys.link(std::string("sys/devices/") + level + "/subsystem", "sys/bus/serial-base");
    sys.tty("ttyS0", "pnp0/00:05/00:05:0/00:05:0.0");
    sys.file("sys/class/tty/ttyS0/type", "4");
    sys.link("sys/devices/pnp0/00:06/driver", "sys/bus/pnp/drivers/serial");
    sys.tty("ttyS10", "pnp0/00:06");
    // Not ports: placeholders of the 8250 driver, a console, a tty without a node.
    sys.tty("ttyS1", "platform/serial8250");
    sys.file("sys/class/tty/ttyS1/type", "0");
    sys.tty("ttyS2", "platform/serial8250");
    sys.tty("tty1", "");
    sys.tty("ttyUSB1", ftdi + "/1-2:1.1/ttyUSB1", false);
    sys.file("dev/ttyS1", "");

    std::vector<SerialPortInfo> ports = listSerialPorts(sys.path("sys"), sys.path("dev"));
    cli::sortPorts(ports);
    const Expected expected[] = {
        {"ttyACM0", "cdc_acm", "Arduino Uno", "2341:0043", ""},
        {"ttyS0", "serial", "", "", ""},
        {"ttyS10", "serial", "", "", ""},
        {"ttyUSB0", "ftdi_sio", "FTDI FT232R USB UART", "0403:6001",
         "usb-FTDI_FT232R_USB_UART_A10K-if00-port0"},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(ports[i].name, sys.path("dev/") + expected[i].name);
        EXPECT_EQ(ports[i].driver, expected[i].driver);
        EXPECT_EQ(ports[i].description, expected[i].description);
        EXPECT_EQ(ports[i].usbId, expected[i].usbId);
        const std::string link = expected[i].link;
        EXPECT_EQ(ports[i].links, link.empty() ? std::vector<std::string>{}
                                               : std::vector{sys.path("dev/serial/by-id/") + link});
        EXPECT_EQ(ports[i].accessible, ::access(ports[i].name.c_str(), R_OK | W_OK) == 0);
    }
}

// access() asks about the real user, and root may open anything: the probe runs as nobody.
TEST(SerialPortsProbe, NamesTheGroupOnlyWhereTheGroupMayOpenThePort) {
    FakeSystem sys;
    for (const std::string n : {"0", "1"}) {
        sys.link("sys/devices/pnp0/00:0" + n + "/driver", "sys/bus/pnp/drivers/serial");
        sys.tty("ttyS" + n, "pnp0/00:0" + n);
    }
    fs::permissions(sys.path("dev/ttyS0"), fs::perms::none);
    fs::permissions(sys.path("dev/ttyS1"), fs::perms::group_read | fs::perms::group_write);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && (::setgroups(0, nullptr) || ::setgid(65534) || ::setuid(65534)))
            ::_exit(2);
        std::vector<SerialPortInfo> ports = listSerialPorts(sys.path("sys"), sys.path("dev"));
        cli::sortPorts(ports);
        std::string seen;
        for (const auto& port : ports)
            seen += port.accessible == false ? "[" + port.group + "]" : "open";
        ::_exit(::write(pipe[1], seen.data(), seen.size()) == ssize_t(seen.size()) ? 0 : 3);
    }
    ::close(pipe[1]);
    char text[256];
    const ssize_t n = ::read(pipe[0], text, sizeof text);
    ::close(pipe[0]);
    int status = -1;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(sys.path("dev/ttyS1").c_str(), &st), 0);
    EXPECT_EQ(std::string(text, std::max<ssize_t>(n, 0)),
              "[][" + std::string(::getgrgid(st.st_gid)->gr_name) + "]");
}

TEST(SerialPortsProbe, NoSysfsIsAnError) {
    EXPECT_THROW(listSerialPorts("/nonexistent-sys", "/dev"), std::system_error);
}

} // namespace
} // namespace tolvak::posix
