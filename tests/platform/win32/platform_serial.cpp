// The serial component end to end on COM5, which the script links to a pseudo-terminal. The
// program asks its driver for bytes on stdout ("SEND <hex>", "BURST <n>") and checks
// what the control makes of them.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "control/tolvak.h"
#include "platform/win32/serial_control_win32.h"
#include "platform/win32/win32_platform.h"
#include "platform_harness.h"

using namespace tolvak;
using namespace tolvak::wintest;

namespace {

constexpr int16_t kPort = 5;

void ask(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void send(const std::string& bytes) {
    std::string hex;
    char digits[3];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        hex += digits;
    }
    ask("SEND " + hex);
}

// Every text the display is given, in order.
class DisplayLog : public SurfaceObserver {
  public:
    void textChanged(ChildId id, std::u16string_view text) override {
        if (id == ChildId::lblNumber) shown.emplace_back(text.begin(), text.end());
    }
    std::vector<std::u16string> shown;
};

struct FrameRow {
    const char* name;
    std::vector<std::string> chunks;     // written one after the other
    std::vector<std::u16string> weights; // what the display shows, in order
};

// The indicator sends each frame last digit first; "=", CR and LF separate frames.
void framesShowInOrder(Checker& check, Tolvak& control, DisplayLog& log) {
    const FrameRow rows[] = {
        {"one frame", {"43210000="}, {u"1234"}},
        {"frame split across writes", {"8765", "0000="}, {u"5678"}},
        {"three frames in one write", {"10000000=20000000=30000000="}, {u"1", u"2", u"3"}},
        {"line feeds separate too", {"00500000\n00600000\n"}, {u"500", u"600"}},
        {"carriage returns separate too", {"00700000\r"}, {u"700"}},
        {"short piece waits for its rest", {"=9999", "9999="}, {u"99999999"}},
        // Nothing follows the last byte: it is handed over once the line falls quiet.
        {"lone last byte of the last frame", {"=4321000", "0"}, {u"1234"}},
    };
    for (const FrameRow& row : rows) {
        check.context(row.name);
        control.OpenComm(); // on the open port: only empties rawData, so rows do not mix
        log.shown.clear();
        for (size_t i = 0; i < row.chunks.size(); ++i) {
            if (i > 0) pumpFor(150); // each chunk reaches the control on its own
            send(row.chunks[i]);
        }
        pumpUntil([&] { return log.shown.size() >= row.weights.size(); }, 5000);
        pumpFor(200); // anything shown beyond the expected weights would be invented
        check.expectEq(log.shown.size(), row.weights.size(), "number of weights shown");
        for (size_t i = 0; i < std::min(log.shown.size(), row.weights.size()); ++i)
            check.expectEq(log.shown[i], row.weights[i], "weight shown");
        check.expectEq(control.getTolvakValue(), row.weights.back(), "getTolvakValue");
    }
}

struct SettingsRow {
    const char* name;
    const char16_t* baud;
    const char16_t* parity;
    int16_t dataBits;
    int16_t stopBits;
    int32_t error; // 0: accepted with no box
};

// OpenComm on the open port applies each settings text again; refused ones give the box.
void settingsAreCheckedByTheLine(Checker& check, Tolvak& control, BoxWatcher& boxes) {
    const SettingsRow rows[] = {
        {"default", u"2400", u"n", 8, 1, 0},
        {"upper-case even parity", u"9600", u"E", 7, 1, 0},
        {"odd parity, two stop bits", u"4800", u"o", 8, 2, 0},
        {"mark parity", u"1200", u"m", 8, 1, 0},
        {"space parity", u"1200", u"S", 8, 1, 0},
        {"five data bits", u"2400", u"n", 5, 1, 0},
        {"unknown parity letter", u"2400", u"x", 8, 1, 380},
        {"empty parity", u"2400", u"", 8, 1, 380},
        {"four data bits", u"2400", u"n", 4, 1, 380},
        {"nine data bits", u"2400", u"n", 9, 1, 380},
        {"three stop bits", u"2400", u"n", 8, 3, 380},
        {"negative stop bits", u"2400", u"n", 8, -1, 380},
        {"baud rate zero", u"0", u"n", 8, 1, 380},
    };
    for (const SettingsRow& row : rows) {
        check.context(row.name);
        control.setBandRate(row.baud);
        control.setParity(row.parity);
        control.setDataBit(row.dataBits);
        control.setStopBit(row.stopBits);
        size_t before = boxes.boxes.size();
        control.OpenComm();
        size_t shown = boxes.boxes.size() - before;
        check.expectEq(shown, row.error ? size_t{1} : size_t{0}, "boxes shown");
        if (row.error && shown == 1) {
            std::wstring code = L"\x9519\x8BEF\x4EE3\x7801\xFF1A" + std::to_wstring(row.error);
            check.expect(boxes.boxes.back().text.find(code) != std::wstring::npos,
                         "box names the error number");
        }
        check.expect(control.serial().portOpen(), "port stays open");
    }
    control.setBandRate(u"2400");
    control.setParity(u"n");
    control.setDataBit(8);
    control.setStopBit(1);
}

// Changes the open port refuses, and those it takes.
void openPortRefusesRebinding(Checker& check, Tolvak& control, BoxWatcher& boxes) {
    struct Row {
        const char* name;
        int16_t port;
        int16_t bufferLength;
        int32_t error;
    } rows[] = {
        {"same port and buffer again", kPort, 10, 0},
        {"other port while open", 6, 10, 8005},
        {"other buffer size while open", kPort, 20, 8005},
    };
    for (const Row& row : rows) {
        check.context(row.name);
        control.setPortNum(row.port);
        control.setBufferLength(row.bufferLength);
        size_t before = boxes.boxes.size();
        control.OpenComm();
        check.expectEq(boxes.boxes.size() - before, row.error ? size_t{1} : size_t{0}, "boxes");
        if (row.error && boxes.boxes.size() > before)
            check.expect(boxes.boxes.back().text.find(std::to_wstring(row.error)) !=
                             std::wstring::npos,
                         "box names the error number");
    }
    control.setPortNum(kPort);
    control.setBufferLength(10);
}

// The component's properties on an open line, without the control in between.
void componentOnTheLine(Checker& check) {
    check.context("component on COM5");
    win32::SerialControlWin32 serial;
    int events = 0;
    serial.setOnCommHandler([&] { ++events; });
    serial.setCommPort(kPort);
    serial.setRThreshold(0); // no receive events
    serial.setPortOpen(true);
    if (!check.expect(serial.portOpen(), "open")) return;

    check.context("a second opening of COM5");
    win32::SerialControlWin32 second;
    second.setCommPort(kPort);
    check.expectEq(errorOf([&] { second.setPortOpen(true); }), 8010, "port not available");
    check.expect(!second.portOpen(), "second stays closed");

    check.context("InputLen");
    send("abcdef");
    pumpUntil([&] { return serial.waitingCount() >= 6; }, 5000);
    serial.setInputLen(4);
    check.expectEq(serial.input(), std::u16string(u"abcd"), "at most InputLen characters");
    serial.setInputLen(0);
    check.expectEq(serial.input(), std::u16string(u"ef"), "then the rest");

    check.context("InBufferCount = 0");
    send("xyz");
    pumpUntil([&] { return serial.waitingCount() >= 3; }, 5000);
    serial.setInBufferCount(0);
    check.expectEq(serial.input(), std::u16string(), "waiting characters discarded");
    check.expectEq(events, 0, "no events with RThreshold 0");

    check.context("RThreshold raised over waiting characters");
    send("12");
    pumpUntil([&] { return serial.waitingCount() >= 2; }, 5000);
    serial.setRThreshold(2);
    pumpUntil([&] { return events > 0; }, 5000);
    check.expectEq(events, 1, "one receive event");
    check.expectEq(serial.commEvent(), int16_t{2}, "CommEvent");

    struct Row {
        const char* name;
        std::function<void()> step;
        int32_t number;
    } rows[] = {
        {"settings changed while open", [&] { serial.setSettings(u" 9600,e, 7 , 2"); }, 0},
        {"bad settings while open", [&] { serial.setSettings(u" 9600,q, 7 , 2"); }, 380},
        {"same port again", [&] { serial.setCommPort(kPort); }, 0},
        {"other port while open", [&] { serial.setCommPort(6); }, 8005},
        {"other buffer size while open", [&] { serial.setInBufferSize(20); }, 8005},
        {"opening an open port", [&] { serial.setPortOpen(true); }, 8005},
    };
    for (const auto& row : rows) {
        check.context(row.name);
        check.expectEq(errorOf(row.step), row.number, "error number");
        check.expect(serial.portOpen(), "still open");
    }
}

// 64 KiB of every byte value, read straight from the component: nothing lost, nothing changed,
// and each receive event finds at least the threshold waiting.
void burstLosesNothing(Checker& check) {
    check.context("64 KiB burst");
    constexpr size_t kBurst = 65536;
    win32::SerialControlWin32 serial;
    std::u16string received;
    int events = 0;
    bool underThreshold = false;
    serial.setOnCommHandler([&] {
        ++events;
        std::u16string chunk = serial.input();
        // Only the tail, once the line has fallen quiet, may come with fewer.
        if (chunk.size() < 2 && received.size() + chunk.size() < kBurst) underThreshold = true;
        received += chunk;
    });
    serial.setCommPort(kPort);
    serial.setSettings(u" 2400,n, 8 , 1");
    serial.setInBufferSize(10); // only a request: the burst is far larger
    serial.setRThreshold(2);
    serial.setPortOpen(true);
    ask("BURST " + std::to_string(kBurst));
    pumpUntil([&] { return received.size() >= kBurst; }, 30000);
    check.expectEq(received.size(), kBurst, "bytes received");
    size_t wrong = 0;
    for (size_t i = 0; i < received.size(); ++i)
        if (received[i] != static_cast<char16_t>(i % 256)) ++wrong;
    check.expectEq(wrong, size_t{0}, "bytes out of place or changed");
    check.expect(events > 0, "receive events raised");
    check.expect(!underThreshold, "no event below the threshold before the tail");
    DWORD start = GetTickCount();
    serial.setPortOpen(false);
    check.expect(!serial.portOpen(), "closed");
    std::printf("close took %lu ms\n", GetTickCount() - start);
}

// Reads that wait for the line: what is left below the threshold comes once the line is quiet, a
// handler that takes part of the input is offered the rest, and closing ends a waiting read.
void waitingReader(Checker& check) {
    const struct {
        const char* name;
        std::string sent;
        int16_t inputLen;
        std::vector<std::u16string> chunks; // what each receive event takes, in order
    } rows[] = {
        {"one byte alone, once the line is quiet", "Z", 0, {u"Z"}},
        {"InputLen leaves one behind", "abc", 2, {u"ab", u"c"}},
        {"InputLen leaves a threshold's worth", "abcde", 2, {u"ab", u"cd", u"e"}},
    };
    for (const auto& row : rows) {
        check.context(row.name);
        win32::SerialControlWin32 serial;
        std::vector<std::u16string> chunks;
        serial.setOnCommHandler([&] { chunks.push_back(serial.input()); });
        serial.setCommPort(kPort);
        serial.setRThreshold(2);
        serial.setInputLen(row.inputLen);
        serial.setPortOpen(true);
        pumpFor(100); // the reader waits in its read before the bytes come
        send(row.sent);
        pumpUntil([&] { return chunks.size() >= row.chunks.size(); }, 5000);
        pumpFor(300); // nothing is offered twice
        check.expect(chunks == row.chunks, "chunks taken by the receive events");
        DWORD start = GetTickCount();
        serial.setPortOpen(false);
        std::printf("close of a waiting read took %lu ms\n", GetTickCount() - start);
        check.expect(!serial.portOpen(), "closed");
    }
}

// The device goes away under the open port (the script closes the pseudo-terminal): the loss is
// reported once, the port is closed, and the process does not spin.
void lostDevice(Checker& check) {
    check.context("device gone");
    win32::SerialControlWin32 serial;
    int reports = 0;
    int32_t number = 0;
    serial.setOnPortLost([&](const AutomationError& e) {
        ++reports;
        number = e.number();
    });
    serial.setCommPort(kPort);
    serial.setRThreshold(2);
    serial.setPortOpen(true);
    pumpFor(100);
    ask("HANGUP");
    pumpUntil([&] { return reports > 0; }, 10000);
    auto cpuMs = [] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        auto ms = [](FILETIME t) {
            return (uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10000;
        };
        return ms(kernel) + ms(user);
    };
    uint64_t cpuBefore = cpuMs();
    pumpFor(1000);
    check.expect(cpuMs() - cpuBefore < 500, "no spinning once the device is gone");
    check.expectEq(reports, 1, "reported once");
    check.expect(number != 0, "with an error number");
    check.expect(!serial.portOpen(), "port closed");
}

} // namespace

int main() {
    Checker check;
    BoxWatcher boxes;
    check.expect(boxes.hooked(), "CBT hook installed");
    {
        Tolvak control(win32::makePlatform());
        DisplayLog log;
        control.surface().setObserver(&log);
        control.setPortNum(kPort);
        check.context("OpenComm");
        control.OpenComm();
        check.expectEq(boxes.boxes.size(), size_t{0}, "no box on opening COM5");
        for (const SeenBox& box : boxes.boxes)
            std::printf("box: %s\n", Checker::utf8(box.text).c_str());
        check.expect(control.serial().portOpen(), "COM5 open");
        check.expectEq(control.state().commSettings, std::u16string(u" 2400,n, 8 , 1"),
                       "settings text");
        if (control.serial().portOpen()) {
            framesShowInOrder(check, control, log);
            settingsAreCheckedByTheLine(check, control, boxes);
            openPortRefusesRebinding(check, control, boxes);
        }
        check.context("CloseComm");
        control.CloseComm();
        check.expect(!control.serial().portOpen(), "closed by CloseComm");
        control.surface().setObserver(nullptr);
    }
    componentOnTheLine(check);
    burstLosesNothing(check);
    waitingReader(check);
    lostDevice(check); // last: the line is gone afterwards
    ask("DONE");
    return check.finish("platform_serial");
}
