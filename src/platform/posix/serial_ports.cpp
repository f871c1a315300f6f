#include "platform/posix/serial_ports.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

namespace tolvak {

std::vector<SerialPortInfo> listSerialPorts() {
    return posix::listSerialPorts("/sys", "/dev");
}

} // namespace tolvak

namespace tolvak::posix {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without its line break.
std::optional<std::string> attribute(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The name of the thing a sysfs link such as "driver" or "subsystem" points at.
std::string linkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// The device that does the work: newer kernels put a serial-base port device (driver "port")
// between the tty and the UART's own device.
fs::path workingDevice(fs::path device) {
    while (linkName(device / "subsystem") == "serial-base" && device.has_parent_path())
        device = device.parent_path();
    return device;
}

// The 8250 driver registers placeholder ttyS ports whether or not a UART is there; their UART
// type reads 0. Where the type is not readable, the placeholders are the ones on the serial8250
// platform device.
bool isPlaceholder(const fs::path& tty, const fs::path& device) {
    if (auto type = attribute(tty / "type")) return *type == "0";
    return device.filename() == "serial8250";
}

// Vendor and product of the USB device the port belongs to, if it is one.
void describeUsb(fs::path device, const fs::path& devicesRoot, SerialPortInfo& port) {
    for (; device.has_parent_path() && device != devicesRoot && device != device.parent_path();
         device = device.parent_path()) {
        auto vendor = attribute(device / "idVendor");
        auto product = attribute(device / "idProduct");
        if (!vendor || !product) continue;
        port.usbId = *vendor + ":" + *product;
        const std::string maker = attribute(device / "manufacturer").value_or("");
        const std::string name = attribute(device / "product").value_or("");
        // Products often carry their maker's name already.
        port.description = name.rfind(maker, 0) == 0 || maker.empty() ? name : maker + " " + name;
        if (port.description.empty()) port.description = maker;
        return;
    }
}

void describeAccess(const fs::path& node, SerialPortInfo& port) {
    port.accessible = ::access(node.c_str(), R_OK | W_OK) == 0;
    if (!*port.accessible) port.group = groupThatMayOpen(node.string());
}

std::vector<std::pair<fs::path, std::string>> stableNames(const fs::path& devRoot) {
    std::vector<std::pair<fs::path, std::string>> names;
    std::error_code ec;
    const fs::path dir = devRoot / "serial" / "by-id";
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::error_code broken;
        fs::path target = fs::canonical(entry.path(), broken);
        if (!broken) names.emplace_back(target, entry.path().string());
    }
    return names;
}

} // namespace

std::string groupThatMayOpen(const std::string& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) return "";
    // Joining the node's group helps only when its group may read and write it (not a 0600
    // node of root's, say): else there is no group to name.
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return "";
    std::vector<char> buffer(4096);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return "";
    return found->gr_name;
}

std::vector<SerialPortInfo> listSerialPorts(const std::string& sysRoot,
                                            const std::string& devRoot) {
    const fs::path ttys = fs::path(sysRoot) / "class" / "tty";
    std::error_code ec;
    fs::directory_iterator entries(ttys, ec);
    if (ec) throw std::system_error(ec, "cannot list " + ttys.string());
    const fs::path devicesRoot = fs::weakly_canonical(fs::path(sysRoot) / "devices");
    const auto links = stableNames(devRoot);

    std::vector<SerialPortInfo> ports;
    for (const auto& entry : entries) {
        const fs::path tty = entry.path();
        std::error_code none;
        // Consoles, pseudo-terminals and the like belong to no device.
        const fs::path device = fs::canonical(tty / "device", none);
        const fs::path node = fs::path(devRoot) / tty.filename();
        if (none || isPlaceholder(tty, device) || !fs::exists(node, none)) continue;

        SerialPortInfo port;
        port.name = node.string();
        const fs::path working = workingDevice(device);
        port.driver = linkName(working / "driver");
        describeUsb(working, devicesRoot, port);
        describeAccess(node, port);
        const fs::path target = fs::canonical(node, none);
        for (const auto& [linked, name] : links)
            if (!none && linked == target) port.links.push_back(name);
        std::sort(port.links.begin(), port.links.end());
        ports.push_back(std::move(port));
    }
    return ports;
}

} // namespace tolvak::posix
