#pragma once

// Fakes for the core's seams: each records what the control does to it and can be told to fail.

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/automation_error.h"
#include "control/tolvak.h"

namespace tolvak::testing {

// UTF-16 to UTF-8, for readable assertions.
std::string utf8(std::u16string_view text);

// Fails the operation named by key when told to; shared by the fakes below. With after > 0 the
// first `after` calls still succeed, so a failure can be placed in the middle of a sequence.
class FailureScript {
  public:
    void failNext(const std::string& op, int32_t number, std::u16string description,
                  int after = 0) {
        m_failures.insert_or_assign(
            op, Failure{AutomationError(number, std::move(description)), after});
    }
    void clear(const std::string& op) { m_failures.erase(op); }
    void check(const std::string& op) {
        auto it = m_failures.find(op);
        if (it == m_failures.end()) return;
        if (it->second.after > 0) {
            --it->second.after;
            return;
        }
        throw it->second.error;
    }

  private:
    struct Failure {
        AutomationError error;
        int after;
    };
    std::map<std::string, Failure> m_failures;
};

// One timeline shared by several fakes, so the order of effects across seams can be asserted.
struct Journal {
    std::vector<std::string>* entries = nullptr;
    void note(const std::string& entry) const {
        if (entries) entries->push_back(entry);
    }
};

class ScriptedSerial : public SerialControl, public FailureScript {
  public:
    void setCommPort(int16_t port) override { write("CommPort", std::to_string(port)); }
    void setSettings(const std::u16string& s) override { write("Settings", utf8(s)); }
    void setInBufferSize(int16_t size) override { write("InBufferSize", std::to_string(size)); }
    void setInBufferCount(int16_t count) override {
        write("InBufferCount", std::to_string(count));
        if (count == 0) waiting.clear();
    }
    void setInputLen(int16_t length) override { write("InputLen", std::to_string(length)); }
    void setRThreshold(int16_t t) override { write("RThreshold", std::to_string(t)); }
    bool portOpen() override {
        check("PortOpen.get");
        ++portOpenReads;
        journal.note("read:PortOpen");
        return open;
    }
    void setPortOpen(bool value) override {
        write("PortOpen", value ? "true" : "false");
        open = value;
    }
    std::u16string input() override {
        check("Input");
        ++inputReads;
        journal.note("read:Input");
        std::u16string chunk = std::move(waiting);
        waiting.clear();
        if (onInput) onInput();
        return chunk;
    }
    int16_t commEvent() override {
        check("CommEvent");
        journal.note("read:CommEvent");
        return event;
    }

    // Characters arrive and the component raises its receive event.
    void receive(const std::u16string& chunk) {
        waiting += chunk;
        raise(kEventReceive);
    }
    void raise(int16_t kind) {
        event = kind;
        raiseOnComm();
    }

    std::vector<std::string> writes; // "Name=value", in order
    std::u16string waiting;
    bool open = false;
    int16_t event = 0;
    int portOpenReads = 0;
    int inputReads = 0;
    std::function<void()> onInput; // runs inside input(), after the read
    Journal journal;

  private:
    void write(const std::string& name, const std::string& value) {
        check(name);
        writes.push_back(name + "=" + value);
        journal.note(name + "=" + value);
    }
};

class RecordingTimer : public TimerControl, public FailureScript {
  public:
    void setEnabled(bool e) override {
        check("Enabled");
        enabled = e;
        log.push_back(std::string("Enabled=") + (e ? "true" : "false"));
    }
    void setInterval(int32_t ms) override {
        check("Interval");
        interval = ms;
        log.push_back("Interval=" + std::to_string(ms));
    }
    void tick() { raiseTick(); }

    bool enabled = false;
    int32_t interval = -1;
    std::vector<std::string> log;
};

struct ShownBox {
    std::u16string prompt;
    uint32_t flags;
    std::u16string title;
};

class RecordingMsgBox : public MsgBox {
  public:
    void show(const std::u16string& prompt, uint32_t flags, const std::u16string& title) override {
        boxes.push_back({prompt, flags, title});
    }
    std::vector<ShownBox> boxes;
};

// Windows Sockets as a script: each call's result is a field; calls are logged in order.
class FakeSockets : public SocketsApi {
  public:
    int wsaStartup(uint16_t version, WsaData& data) override {
        log.push_back("WSAStartup");
        requestedVersion = version;
        if (startupResult == 0) data = granted;
        return startupResult;
    }
    int wsaCleanup() override {
        log.push_back("WSACleanup");
        return cleanupResult;
    }
    int wsaGetLastError() override { return lastError; }
    int getHostName(char* buffer, int length) override {
        log.push_back("gethostname");
        if (hostNameResult != 0) return hostNameResult;
        std::memset(buffer, 0, static_cast<size_t>(length));
        std::memcpy(buffer, hostName.data(), std::min<size_t>(hostName.size(), length - 1));
        return 0;
    }
    std::optional<std::vector<uint8_t>> getHostByName(const std::string& name) override {
        log.push_back("gethostbyname:" + name);
        return address;
    }
    uint32_t inetAddr(const std::string& dotted) override {
        log.push_back("inet_addr:" + dotted);
        return inetAddrResult;
    }
    uint32_t sendArp(uint32_t destination, uint32_t, uint8_t* macAddr, uint32_t& length) override {
        log.push_back("SendARP");
        arpDestination = destination;
        if (arpResult != 0) return arpResult;
        std::memcpy(macAddr, mac.data(), std::min<size_t>(mac.size(), length));
        length = arpLength;
        return 0;
    }
    std::u16string fromAnsi(const std::string& text) override {
        return std::u16string(text.begin(), text.end());
    }

    int startupResult = 0;
    WsaData granted{0x0101, 100};
    int cleanupResult = 0;
    int lastError = 0;
    int hostNameResult = 0;
    std::string hostName = "scalehouse";
    std::optional<std::vector<uint8_t>> address = std::vector<uint8_t>{192, 168, 0, 5};
    uint32_t inetAddrResult = 0x0500A8C0;
    uint32_t arpResult = 0;
    std::vector<uint8_t> mac{0x00, 0x1A, 0x2B, 0x05, 0x00, 0xFF};
    uint32_t arpLength = 6;
    uint16_t requestedVersion = 0;
    uint32_t arpDestination = 0;
    std::vector<std::string> log;
};

class FixedRandom : public RandomSource {
  public:
    void seedFromClock() override { ++seeds; }
    float nextSingle() override { return values.empty() ? 0.5f : next(); }
    std::vector<float> values;
    int seeds = 0;

  private:
    float next() {
        float v = values.front();
        values.erase(values.begin());
        return v;
    }
};

// Records what the control does to its surface, in order, and can refuse any of it.
class RecordingSurface : public SurfaceObserver, public FailureScript {
  public:
    void textChanged(ChildId id, std::u16string_view text) override {
        check("text:" + name(id));
        record("text:" + name(id) + "=" + utf8(text));
    }
    void refreshChild(ChildId id) override {
        check("refresh:" + name(id));
        record("refresh:" + name(id));
    }
    void layoutChanged(ChildId id) override {
        check("layout:" + name(id));
        record("layout:" + name(id));
    }
    void refreshSurface() override {
        check("refresh:surface");
        record("refresh:surface");
    }
    // The texts written to one child, in order.
    std::vector<std::string> textsOf(ChildId id) const;

    std::vector<std::string> events;
    Journal journal;

  private:
    void record(const std::string& event) {
        events.push_back(event);
        journal.note(event);
    }
    static std::string name(ChildId id);
};

class RecordingBag : public PropertyBag, public FailureScript {
  public:
    void write(const std::u16string& name, const PropertyValue& value) override {
        check(utf8(name));
        entries.emplace_back(utf8(name), value);
    }
    std::vector<std::pair<std::string, PropertyValue>> entries;
};

// A control on fakes, with handles on every fake. The serial component and the surface also
// write into `journal`, one timeline for both.
struct Harness {
    Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // Late-bound call by method name, the way a host calls after looking the name up.
    Variant call(std::u16string_view name, const std::vector<Variant>& args = {});
    std::vector<std::string> displayWrites() const { return surface.textsOf(ChildId::lblNumber); }

    ScriptedSerial* serial;
    RecordingTimer* timer;
    RecordingMsgBox* msgBox;
    FakeSockets* sockets;
    FixedRandom* random;
    RecordingSurface surface;
    std::vector<std::string> journal;
    std::unique_ptr<Tolvak> control;
};

// Every field of a ControlState as text, by field name, so tests can tell which fields changed.
std::map<std::string, std::string> fieldsOf(const ControlState& state);

} // namespace tolvak::testing
