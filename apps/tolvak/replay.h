#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>

#include "acquisition/serial_control.h"
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

// Feeds bytes to a control with the given options through the receive handler, chunkSize bytes
// per event (0: all as one event). Writes "display <text>" for every write of the display and,
// after each event, "raw <rawData as JSON>".
void replayBytes(const std::string& bytes, size_t chunkSize, const ParsedArgs& options,
                 std::ostream& out);

} // namespace tolvak::cli
