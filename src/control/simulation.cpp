// Simulated readings: Timer1 writes a random whole number from 0 to 99999 every two seconds.
#include <chrono>
#include <cmath>

#include "control/tolvak.h"
#include "text/number_text.h"

namespace tolvak {

void ClockRandom::seedFromClock() {
    auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    m_engine.seed(static_cast<std::mt19937::result_type>(ticks ^ (ticks >> 32)));
}

float ClockRandom::nextSingle() {
    return std::generate_canonical<float, 24>(m_engine);
}

void Tolvak::RndStart() {
    closePortIfOpen();
    timer().setEnabled(true);
    timer().setInterval(kSimulationInterval);
}

void Tolvak::RndEnd() {
    closePortIfOpen();
    timer().setEnabled(false);
    timer().setInterval(0);
}

void Tolvak::onTimer() {
    RandomSource& random = *m_platform.random;
    random.seedFromClock();
    float r = random.nextSingle();
    // Some generators return 1.0 for float; a reading must stay below 100000.
    if (!(r >= 0.0f)) r = 0.0f;
    if (r >= 1.0f) r = std::nextafter(1.0f, 0.0f);
    double reading = std::floor(static_cast<double>(r) * 100000.0);
    // A tick has nobody to report to: if the display refuses the text it keeps the old one.
    std::u16string text = blankSignedText(reading);
    auto refused = trapErrors([&] { m_surface.setText(ChildId::lblNumber, text); });
    if (!refused && m_readingSink) m_readingSink(text, reading);
}

} // namespace tolvak
