#include "network/network_module.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "text/number_text.h"

namespace tolvak {

namespace {

constexpr uint16_t kRequestedVersion = 0x0101;
constexpr int kMinimumSockets = 1;
constexpr int kHostNameBufferLength = 256;
constexpr size_t kMacLength = 6;

std::string trimBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The dotted text is digits and full stops only, the same in every code page.
std::string toAscii(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

char hexDigit(int v) {
    return "0123456789ABCDEF"[v & 15];
}

} // namespace

bool NetworkModule::startSockets() {
    WsaData data{};
    if (m_sockets.wsaStartup(kRequestedVersion, data) != 0) {
        m_msgBox.show(u"The 32-bit Windows Socket is not responding.", MsgBox::kExclamation,
                      kNoticeTitle);
        return false;
    }
    std::optional<std::u16string> refusal;
    int major = data.wVersion & 0xFF;
    int minor = data.wVersion >> 8;
    if (static_cast<int16_t>(data.iMaxSockets) < kMinimumSockets) {
        refusal = u"This application requires a minimum of " + decimalText(kMinimumSockets) +
                  u" supported sockets.";
    } else if (major < 1 || (major == 1 && minor < 1)) {
        refusal = u"Sockets version " + decimalText(major) + u"." + decimalText(minor) +
                  u" is not supported by 32-bit Windows Sockets.";
    }
    if (!refusal) return true;
    m_msgBox.show(*refusal, MsgBox::kExclamation, kNoticeTitle);
    // The platform granted a start that nobody will use: match it now.
    m_sockets.wsaCleanup();
    return false;
}

void NetworkModule::stopSockets() {
    int result = m_sockets.wsaCleanup();
    if (result != 0)
        m_msgBox.show(u"Socket error " + decimalText(result) + u" occurred in Cleanup ",
                      MsgBox::kExclamation, kNoticeTitle);
}

namespace {

// The host name as gethostname gives it, up to its NUL, blanks around it removed.
std::optional<std::string> hostName(SocketsApi& sockets) {
    char buffer[kHostNameBufferLength + 1] = {};
    if (sockets.getHostName(buffer, kHostNameBufferLength) == SocketsApi::kSocketError)
        return std::nullopt;
    buffer[kHostNameBufferLength] = '\0';
    return trimBlanks(buffer);
}

} // namespace

std::u16string NetworkModule::getLocalHostName() {
    // gethostname needs a started Windows Sockets; most hosts never start it themselves.
    if (!startSockets()) return {};
    std::u16string result;
    if (std::optional<std::string> name = hostName(m_sockets); !name) {
        m_msgBox.show(u"Windows Sockets error " + blankSignedText(m_sockets.wsaGetLastError()),
                      MsgBox::kOkOnly, kApplicationTitle);
    } else if (!m_sockets.getHostByName(*name)) {
        m_msgBox.show(u"Winsock.dll is not responding.", MsgBox::kOkOnly, kApplicationTitle);
    } else {
        result = m_sockets.fromAnsi(*name);
    }
    stopSockets();
    return result;
}

std::u16string NetworkModule::lookupLocalIPAddress() {
    if (!startSockets()) return {};
    std::u16string text;
    if (std::optional<std::string> name = hostName(m_sockets)) {
        std::optional<std::vector<uint8_t>> address = m_sockets.getHostByName(*name);
        if (address) {
            for (uint8_t byte : *address)
                text += decimalText(byte) + u".";
            if (!text.empty()) text.pop_back();
        }
    }
    stopSockets();
    return text;
}

bool NetworkModule::lookupMacAddress(const std::u16string& ipAddress, std::u16string& macAddress) {
    uint32_t destination = m_sockets.inetAddr(toAscii(ipAddress));
    if (destination == 0) return false;
    uint8_t buffer[kMacLength] = {};
    uint32_t length = kMacLength;
    if (m_sockets.sendArp(destination, 0, buffer, length) != 0) return false;
    if (buffer[0] == 0 && buffer[1] == 0 && buffer[2] == 0 && buffer[3] == 0) return false;
    if (length == 0) return false;
    std::u16string text;
    // Never read past the buffer, whatever length the platform claims.
    for (size_t i = 0; i < std::min<size_t>(length, kMacLength); ++i) {
        text += hexDigit(buffer[i] >> 4);
        text += hexDigit(buffer[i]);
        text += u'-';
    }
    text.pop_back();
    macAddress = text;
    return true;
}

std::u16string NetworkModule::getLocalMacAddress() {
    std::u16string ip = lookupLocalIPAddress();
    if (ip.empty()) return {};
    std::u16string mac;
    return lookupMacAddress(ip, mac) ? mac : std::u16string{};
}

} // namespace tolvak
