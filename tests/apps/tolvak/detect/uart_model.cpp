#include "uart_model.h"

#include <cmath>
#include <vector>

namespace tolvak::cli {

namespace {

int stopBitCount(StopBits stop) {
    return stop == StopBits::One ? 1 : 2;
}

// The parity bit that goes with the data bits, or none.
int parityBit(Parity parity, unsigned data, int dataBits) {
    int ones = 0;
    for (int i = 0; i < dataBits; ++i)
        ones += (data >> i) & 1;
    switch (parity) {
    case Parity::Even:
        return ones & 1;
    case Parity::Odd:
        return !(ones & 1);
    case Parity::Mark:
        return 1;
    case Parity::Space:
        return 0;
    default:
        return -1;
    }
}

// The line in cells of one sender bit: 1 mark (idle, stop), 0 space (start).
std::vector<bool> lineCells(std::string_view bytes, const SerialSettings& s) {
    constexpr int kIdleCells = 12;
    std::vector<bool> cells(kIdleCells, true);
    for (unsigned char byte : bytes) {
        cells.push_back(false);
        for (int i = 0; i < s.dataBits; ++i)
            cells.push_back((byte >> i) & 1);
        if (int p = parityBit(s.parity, byte, s.dataBits); p >= 0) cells.push_back(p);
        cells.insert(cells.end(), stopBitCount(s.stopBits), true);
    }
    cells.insert(cells.end(), kIdleCells, true);
    return cells;
}

} // namespace

LineCapture resampleUart(std::string_view bytes, const SerialSettings& sender,
                         const SerialSettings& receiver) {
    const std::vector<bool> cells = lineCells(bytes, sender);
    const double cellTime = 1.0 / sender.baud;
    const double bitTime = 1.0 / receiver.baud;
    auto level = [&](double t) {
        auto i = static_cast<size_t>(t / cellTime);
        return i >= cells.size() || cells[i];
    };
    LineCapture out;
    size_t cell = 1; // where the search for the next falling edge goes on
    while (true) {
        while (cell < cells.size() && !(cells[cell - 1] && !cells[cell]))
            ++cell;
        if (cell >= cells.size()) break;
        const double edge = cell * cellTime;
        auto sample = [&](int bit) { return level(edge + (bit + 0.5) * bitTime); };
        if (sample(0)) { // a glitch, not a start bit
            ++cell;
            continue;
        }
        unsigned data = 0;
        for (int i = 0; i < receiver.dataBits; ++i)
            data |= static_cast<unsigned>(sample(1 + i)) << i;
        int next = 1 + receiver.dataBits;
        bool error = false;
        if (int p = parityBit(receiver.parity, data, receiver.dataBits); p >= 0)
            error = sample(next++) != static_cast<bool>(p);
        const double stopTime = edge + (next + 0.5) * bitTime;
        error = error || !level(stopTime);
        if (error) out.errors.push_back(out.bytes.size());
        out.bytes += static_cast<char>(data);
        cell = static_cast<size_t>(stopTime / cellTime) + 1;
    }
    return out;
}

} // namespace tolvak::cli
