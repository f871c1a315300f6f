// Windows Sockets 1.1 and SendARP through the real layer, under Wine: the three host-identity
// queries, and the calls one by one.

#include <winsock2.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "control/tolvak.h"
#include "platform/win32/sockets_win32.h"
#include "platform/win32/win32_platform.h"
#include "platform_harness.h"

using namespace tolvak;
using namespace tolvak::wintest;

namespace {

// "a.b.c.d" with each number 0 to 255 and no leading zeros.
std::vector<int> dottedBytes(const std::u16string& text) {
    std::vector<int> bytes;
    std::string piece;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'.') {
            bool plain = !piece.empty() && piece.size() <= 3 && (piece == "0" || piece[0] != '0');
            if (!plain || std::stoi(piece) > 255) return {};
            bytes.push_back(std::stoi(piece));
            piece.clear();
        } else if (text[i] >= u'0' && text[i] <= u'9') {
            piece += static_cast<char>(text[i]);
        } else {
            return {};
        }
    }
    return bytes;
}

bool isMacText(const std::u16string& text) {
    if (text.size() != 17) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
        if (i % 3 == 2 ? c != u'-' : !hex) return false;
    }
    return true;
}

// The calls one at a time, against what Winsock itself answers.
void callsOneByOne(Checker& check) {
    win32::SocketsWin32 sockets;
    WsaData data;
    check.context("WSAStartup");
    check.expectEq(sockets.wsaStartup(0x0101, data), 0, "result");
    check.expectEq(data.wVersion, uint16_t{0x0101}, "granted version");

    struct AddrRow {
        const char* text;
        std::vector<uint8_t> bytes; // in memory; empty: INADDR_NONE
    } addrRows[] = {
        {"10.0.0.7", {10, 0, 0, 7}},
        {"192.168.1.254", {192, 168, 1, 254}},
        {"not an address", {}},
    };
    for (const AddrRow& row : addrRows) {
        check.context(std::string("inet_addr ") + row.text);
        uint32_t address = sockets.inetAddr(row.text);
        if (row.bytes.empty()) {
            check.expectEq(address, uint32_t{INADDR_NONE}, "refused");
            continue;
        }
        uint8_t bytes[4];
        std::memcpy(bytes, &address, 4);
        check.expect(std::vector<uint8_t>(bytes, bytes + 4) == row.bytes, "network byte order");
    }

    check.context("gethostbyname");
    auto loopback = sockets.getHostByName("localhost");
    check.expect(loopback && *loopback == std::vector<uint8_t>({127, 0, 0, 1}),
                 "localhost is 127.0.0.1");
    check.expect(!sockets.getHostByName("no-such-host.invalid"), "unknown name fails");

    check.context("SendARP");
    uint8_t buffer[8];
    std::memset(buffer, 0xCC, sizeof buffer);
    uint32_t length = 6;
    uint32_t result = sockets.sendArp(sockets.inetAddr("127.0.0.1"), 0, buffer, length);
    std::printf("SendARP(127.0.0.1): result %u, length %u\n", result, length);
    check.expect(length <= 6, "length within the buffer");
    check.expect(buffer[6] == 0xCC && buffer[7] == 0xCC, "nothing written past the 6 bytes");

    check.context("fromAnsi");
    check.expectEq(sockets.fromAnsi("scale-host_1"), std::u16string(u"scale-host_1"), "ASCII");
    check.expectEq(sockets.fromAnsi(""), std::u16string(), "empty");
    std::u16string high = sockets.fromAnsi("\xC4");
    wchar_t expected = 0;
    MultiByteToWideChar(CP_ACP, 0, "\xC4", 1, &expected, 1);
    check.expect(high.size() == 1 && high[0] == static_cast<char16_t>(expected),
                 "a code-page byte becomes its character");

    check.context("WSACleanup");
    check.expectEq(sockets.wsaCleanup(), 0, "result");
}

void hostIdentity(Checker& check, BoxWatcher& boxes) {
    Tolvak control(win32::makePlatform());

    // A host that has not started Windows Sockets: either the name (Wine does not insist on
    // WSAStartup) or the error box with empty text, never both or neither.
    check.context("getLocalHostName, sockets not started");
    size_t before = boxes.boxes.size();
    std::u16string unstarted = control.getLocalHostName();
    size_t shown = boxes.boxes.size() - before;
    std::printf("without WSAStartup: name \"%s\", %u box(es)\n", utf8Of(unstarted).c_str(),
                static_cast<unsigned>(shown));
    check.expect(unstarted.empty() ? shown == 1 : shown == 0, "result and box agree");
    if (shown == 1)
        check.expect(boxes.boxes.back().text.rfind(L"Windows Sockets error  ", 0) == 0,
                     "error box text");

    WSADATA data;
    WSAStartup(0x0101, &data); // as a host that uses sockets itself
    check.context("getLocalHostName");
    char expected[256] = {};
    gethostname(expected, sizeof expected);
    std::u16string name = control.getLocalHostName();
    check.expect(!name.empty(), "not empty");
    check.expectEq(utf8Of(name), std::string(expected), "the host's name, nothing after it");

    check.context("GetLocalIPAddress");
    std::u16string address = control.GetLocalIPAddress();
    std::vector<int> bytes = dottedBytes(address);
    check.expectEq(bytes.size(), size_t{4}, "dotted IPv4 text");
    const hostent* entry = gethostbyname(expected);
    if (entry && entry->h_addr_list && entry->h_addr_list[0] && bytes.size() == 4) {
        auto* first = reinterpret_cast<const uint8_t*>(entry->h_addr_list[0]);
        check.expect(std::vector<int>(first, first + 4) == bytes, "the first address listed");
    }

    check.context("getLocalMacAddress");
    std::u16string mac = control.getLocalMacAddress();
    std::printf("host %s, address %s, MAC \"%s\"\n", expected, utf8Of(address).c_str(),
                utf8Of(mac).c_str());
    // Wine's SendARP may not answer for the host's own address; then the text is empty.
    check.expect(mac.empty() || isMacText(mac), "empty or six upper-case hex pairs");
    check.expectEq(boxes.boxes.size() - before, shown, "no further boxes");
    WSACleanup();
}

} // namespace

int main() {
    Checker check;
    BoxWatcher boxes;
    callsOneByOne(check);
    hostIdentity(check, boxes);
    return check.finish("platform_sockets");
}
