// The COM ports: the device installer's ports class gives the names Device Manager shows; the
// registry's SERIALCOMM map adds ports that have no device entry (virtual ports, Wine's).
#include <windows.h>

// Before devguid.h, so that GUID_DEVCLASS_PORTS is defined here: no library holds it.
#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cwctype>

#include "base/serial_ports.h"
#include "platform/win32/system_handles.h"
#include "platform/win32/wide_text.h"
#include "text/utf8.h"

namespace tolvak {

namespace {

using win32::fromWide;

std::string utf8(const std::wstring& text) {
    return toUtf8(fromWide(text));
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

std::wstring regString(HKEY key, const wchar_t* name) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return buffer;
}

std::wstring deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 2 * sizeof(wchar_t), nullptr))
        return {};
    return buffer; // a multi-string's first string
}

// "USB\VID_0403&PID_6001&REV_0600" or "FTDIBUS\COMPORT&VID_0403&PID_6001": "0403:6001".
std::string usbId(const std::wstring& hardwareId) {
    const std::wstring id = upper(hardwareId);
    const size_t vid = id.find(L"VID_"), pid = id.find(L"PID_");
    if (vid == std::wstring::npos || pid == std::wstring::npos || id.size() < pid + 8 ||
        id.size() < vid + 8)
        return {};
    std::string text = utf8(id.substr(vid + 4, 4)) + ":" + utf8(id.substr(pid + 4, 4));
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "\Device\VCP0" is FTDI's, "\Device\Serial0" the inbox driver's: the name without its number.
std::string driverOfDevice(const std::wstring& device) {
    std::wstring stem = device.substr(device.rfind(L'\\') + 1);
    while (!stem.empty() && std::iswdigit(stem.back()))
        stem.pop_back();
    return utf8(stem);
}

void addDeviceInstallerPorts(std::vector<SerialPortInfo>& ports) {
    win32::UniqueDevInfo set(
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
        HKEY opened =
            SetupDiOpenDevRegKey(set.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        win32::UniqueRegKey key(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
        const std::wstring name = key ? upper(regString(key.get(), L"PortName")) : L"";
        if (name.rfind(L"COM", 0) != 0) continue; // printer ports share the class
        SerialPortInfo port;
        port.name = utf8(name);
        port.description = utf8(deviceProperty(set.get(), device, SPDRP_FRIENDLYNAME));
        if (port.description.empty())
            port.description = utf8(deviceProperty(set.get(), device, SPDRP_DEVICEDESC));
        port.driver = utf8(deviceProperty(set.get(), device, SPDRP_SERVICE));
        port.usbId = usbId(deviceProperty(set.get(), device, SPDRP_HARDWAREID));
        ports.push_back(std::move(port));
    }
}

void addSerialCommPorts(std::vector<SerialPortInfo>& ports) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      &opened) != ERROR_SUCCESS)
        return;
    win32::UniqueRegKey key(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t device[256] = {}, name[64] = {};
        DWORD deviceLength = 255, size = sizeof name - sizeof(wchar_t), type = 0;
        const LONG status = RegEnumValueW(key.get(), i, device, &deviceLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(name), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::string portName = utf8(upper(name));
        if (std::any_of(ports.begin(), ports.end(),
                        [&](const SerialPortInfo& p) { return p.name == portName; }))
            continue;
        SerialPortInfo port;
        port.name = portName;
        port.driver = driverOfDevice(device);
        ports.push_back(std::move(port));
    }
}

} // namespace

std::vector<SerialPortInfo> listSerialPorts() {
    std::vector<SerialPortInfo> ports;
    addDeviceInstallerPorts(ports);
    addSerialCommPorts(ports);
    return ports;
}

} // namespace tolvak
