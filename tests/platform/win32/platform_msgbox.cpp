// Message boxes as the user sees them: MessageBoxW boxes read back by a CBT hook (text, caption,
// icon, buttons) and dismissed. The port box comes from a missing COM port, the sockets boxes
// from the network module over a scripted sockets layer.

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>

#include "control/tolvak.h"
#include "network/network_module.h"
#include "platform/win32/msg_box_win32.h"
#include "platform/win32/win32_platform.h"
#include "platform_harness.h"

using namespace tolvak;
using namespace tolvak::wintest;

namespace {

// Each call's result is a field.
class ScriptedSockets : public SocketsApi {
  public:
    int wsaStartup(uint16_t, WsaData& data) override {
        if (startup == 0) data = granted;
        return startup;
    }
    int wsaCleanup() override { return cleanup; }
    int wsaGetLastError() override { return lastError; }
    int getHostName(char* buffer, int length) override {
        if (hostName != 0) return hostName;
        std::strncpy(buffer, "scalehost", static_cast<size_t>(length));
        return 0;
    }
    std::optional<std::vector<uint8_t>> getHostByName(const std::string&) override {
        return std::vector<uint8_t>{10, 0, 0, 7};
    }
    uint32_t inetAddr(const std::string&) override { return 0x0700000A; }
    uint32_t sendArp(uint32_t, uint32_t, uint8_t*, uint32_t&) override { return 1; }
    std::u16string fromAnsi(const std::string& text) override {
        return std::u16string(text.begin(), text.end());
    }

    int startup = 0;
    WsaData granted{0x0101, 100};
    int cleanup = 0;
    int hostName = 0;
    int lastError = 0;
};

const std::wstring kNotice = L"\x63D0\x793A"; // 提示

void missingPortGivesTheOpenCommBox(Checker& check, BoxWatcher& boxes) {
    check.context("OpenComm on a missing port");
    Tolvak control(win32::makePlatform());
    control.setPortNum(7); // the prefix has no COM7
    control.OpenComm();
    if (!check.expectEq(boxes.boxes.size(), size_t{1}, "boxes shown")) return;
    const SeenBox& box = boxes.boxes.back();
    const std::wstring head = L"\x6253\x5F00\x4E32\x53E3\x65F6\x51FA\x9519\xFF0C"
                              L"\x8BF7\x68C0\x67E5\x4E32\x53E3\x662F\x5426\x5B58\x5728"
                              L"\x53CA\x8BBE\x7F6E\x6B63\x786E\xFF0C\x662F\x5426\x6709"
                              L"\x5176\x4ED6\x7A0B\x5E8F\x5360\x7528\x6B64\x4E32\x53E3"
                              L"\r\x9519\x8BEF\x4EE3\x7801\xFF1A"
                              L"8002\r\x9519\x8BEF\x4FE1\x606F\xFF1A";
    check.expectEq(box.text.substr(0, head.size()), head, "prompt up to the description");
    std::wstring description = box.text.size() > head.size() ? box.text.substr(head.size()) : L"";
    check.expect(description.find(L"COM7") != std::wstring::npos, "description names the port");
    check.expect(description.find(L"(COM7: ") != std::wstring::npos && description.back() == L')' &&
                     description.size() > 30,
                 "description carries the system's reason");
    std::printf("missing port box: %s\n", Checker::utf8(box.text).c_str());
    check.expectEq(box.caption, kNotice, "caption");
    check.expect(box.exclamation, "exclamation icon");
    check.expectEq(box.buttons, 1, "one button");
    check.expect(!control.serial().portOpen(), "port stays closed");
}

struct SocketsRow {
    const char* name;
    std::function<void(ScriptedSockets&)> arrange;
    std::function<std::u16string(NetworkModule&)> query;
    const wchar_t* text;
    const wchar_t* caption;
    bool exclamation;
    const char16_t* result;
};

void socketsBoxes(Checker& check, BoxWatcher& boxes) {
    using Net = NetworkModule;
    const std::wstring notice = kNotice;
    const SocketsRow rows[] = {
        {"WSAStartup fails", [](ScriptedSockets& s) { s.startup = 10091; },
         [](Net& n) { return n.lookupLocalIPAddress(); },
         L"The 32-bit Windows Socket is not responding.", notice.c_str(), true, u""},
        {"WSACleanup fails", [](ScriptedSockets& s) { s.cleanup = -1; },
         [](Net& n) { return n.lookupLocalIPAddress(); }, L"Socket error -1 occurred in Cleanup ",
         notice.c_str(), true, u"10.0.0.7"},
        {"no sockets offered", [](ScriptedSockets& s) { s.granted.iMaxSockets = 0; },
         [](Net& n) { return n.lookupLocalIPAddress(); },
         L"This application requires a minimum of 1 supported sockets.", notice.c_str(), true, u""},
        {"version 1.0 granted", [](ScriptedSockets& s) { s.granted.wVersion = 0x0001; },
         [](Net& n) { return n.lookupLocalIPAddress(); },
         L"Sockets version 1.0 is not supported by 32-bit Windows Sockets.", notice.c_str(), true,
         u""},
        {"gethostname fails",
         [](ScriptedSockets& s) {
             s.hostName = -1;
             s.lastError = 10093;
         },
         [](Net& n) { return n.getLocalHostName(); }, L"Windows Sockets error  10093", L"Tolvak",
         false, u""},
    };
    for (const SocketsRow& row : rows) {
        check.context(row.name);
        ScriptedSockets sockets;
        row.arrange(sockets);
        win32::MsgBoxWin32 msgBox;
        NetworkModule network(sockets, msgBox);
        size_t before = boxes.boxes.size();
        std::u16string result = row.query(network);
        check.expectEq(result, std::u16string(row.result), "result");
        if (!check.expectEq(boxes.boxes.size() - before, size_t{1}, "boxes shown")) continue;
        const SeenBox& box = boxes.boxes.back();
        check.expectEq(box.text, std::wstring(row.text), "text");
        check.expectEq(box.caption, std::wstring(row.caption), "caption");
        check.expectEq(box.exclamation, row.exclamation, "exclamation icon");
        if (!row.exclamation) check.expect(!box.anyIcon, "no icon");
        check.expectEq(box.buttons, 1, "one button");
    }
}

} // namespace

int main() {
    Checker check;
    BoxWatcher boxes;
    check.expect(boxes.hooked(), "CBT hook installed");
    missingPortGivesTheOpenCommBox(check, boxes);
    socketsBoxes(check, boxes);
    return check.finish("platform_msgbox");
}
