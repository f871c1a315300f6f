#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "acquisition/serial_control.h"
#include "control/tolvak.h"
#include "tolvak/cli_args.h"

namespace tolvak::cli {

// A serial component with no port behind it: each feed() is one receive event whose input is
// exactly the chunk given.
class ReplaySerial : public SerialControl {
  public:
    void setCommPort(int16_t) override {}
    void setSettings(const std::u16string&) override {}
    void setInBufferSize(int16_t) override {}
    void setInBufferCount(int16_t) override { m_waiting.clear(); }
    void setInputLen(int16_t) override {}
    void setRThreshold(int16_t) override {}
    bool portOpen() override { return m_open; }
    void setPortOpen(bool open) override { m_open = open; }
    std::u16string input() override { return std::exchange(m_waiting, {}); }
    int16_t commEvent() override { return m_event; }

    void feed(std::u16string chunk);

  private:
    std::u16string m_waiting;
    int16_t m_event = 0;
    bool m_open = false;
};

// A control configured by the given options, fed through its receive handler. Writes
// "display <text>" for every write of the display and, after each event, "raw <rawData as
// JSON>".
class Replayer : private SurfaceObserver {
  public:
    Replayer(const ParsedArgs& options, std::ostream& out);
    ~Replayer() override;

    // One receive event with exactly these bytes.
    void feed(std::string_view chunk);
    // chunkSize bytes per event (0: all as one event).
    void feedAll(std::string_view bytes, size_t chunkSize);
    // Where the errors of the receive handler go.
    void setReceiveErrorSink(std::function<void(const AutomationError&)> sink) {
        m_control->setReceiveErrorSink(std::move(sink));
    }

  private:
    void textChanged(ChildId id, std::u16string_view text) override;

    std::ostream& m_out;
    ReplaySerial* m_port;
    std::unique_ptr<Tolvak> m_control;
};

} // namespace tolvak::cli
