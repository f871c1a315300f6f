#include "tolvak/simulator/indicator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tolvak::cli {

namespace {

constexpr int kMaxPlaces = 5;
constexpr double kDivision = 20.0; // kg
// A sender that fell far behind (a stopped process, a slow terminal) does not burst to catch up.
constexpr uint64_t kMaxCatchUp = 10;

double smoothStep(double x) {
    return x * x * (3 - 2 * x);
}

double roundToPlaces(double weight, int places) {
    const double scale = std::pow(10.0, places);
    return std::round(weight * scale) / scale;
}

// The display characters of a rounded weight's magnitude, before zero-padding.
std::string magnitudeText(double rounded, int places) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", places, std::fabs(rounded));
    return digits;
}

void checkPlaces(int places) {
    if (places < 0 || places > kMaxPlaces) throw std::out_of_range("decimal places must be 0 to 5");
}

bool fitsDisplay(double weight, int places) {
    return magnitudeText(roundToPlaces(weight, places), places).size() <=
           static_cast<size_t>(kDisplayWidth);
}

} // namespace

std::string encodeFrame(double weight, const FrameFormat& format) {
    checkPlaces(format.places);
    if (!std::isfinite(weight)) throw std::out_of_range("weight is not a number");
    const double rounded = roundToPlaces(weight, format.places);
    std::string display = magnitudeText(rounded, format.places);
    if (display.size() > static_cast<size_t>(kDisplayWidth))
        throw std::out_of_range("weight does not fit the 7-character display");
    display.insert(0, kDisplayWidth - display.size(), '0');
    const char sign = rounded < 0 ? '-' : '0';

    std::string frame = format.separator;
    if (format.leastSignificantFirst) {
        frame.append(display.rbegin(), display.rend());
        frame += sign;
    } else {
        frame += sign;
        frame += display;
    }
    frame += format.terminator;
    return frame;
}

double truckProfile(double seconds) {
    double t = std::fmod(seconds, kProfilePeriod);
    if (t < 0) t += kProfilePeriod;
    constexpr double pi = 3.14159265358979323846;
    double w = 0;
    if (t >= 2 && t < 6) { // driving on: axle by axle, the bridge rocking
        double x = (t - 2) / 4;
        w = kProfileGross * smoothStep(x) + 400 * x * std::sin(2 * pi * 2 * (t - 2));
    } else if (t >= 6 && t < 9) { // settling
        double s = t - 6;
        w = kProfileGross + 600 * std::exp(-1.5 * s) * std::sin(2 * pi * 1.2 * s);
    } else if (t >= 9 && t < 13) { // standing
        w = kProfileGross;
    } else if (t >= 13 && t < 16) { // driving off
        w = kProfileGross * (1 - smoothStep((t - 13) / 3));
    } else if (t >= 17 && t < 17.5) { // the empty bridge drifts below zero for a moment
        w = -kDivision;
    }
    return std::round(w / kDivision) * kDivision + 0.0; // + 0.0: no negative zero
}

double displayedProfile(double seconds, int places) {
    checkPlaces(places);
    double divisor = 1;
    while (!fitsDisplay(kProfilePeak / divisor, places))
        divisor *= 10;
    return truckProfile(seconds) / divisor;
}

formats::Sample indicatorSample(double seconds, const IndicatorConfig& config, double zero,
                                std::optional<double> tare) {
    const int places = config.format.places;
    const auto weightAt = [&](double t) {
        return config.weight ? *config.weight : displayedProfile(t, places);
    };
    formats::Sample s;
    s.places = places;
    s.stable = weightAt(seconds) == weightAt(std::max(0.0, seconds - 0.5));
    s.weight = weightAt(seconds) - zero;
    if (tare) {
        s.mode = formats::WeightMode::Net;
        s.tare = *tare;
        s.weight -= *tare;
    }
    return s;
}

Indicator::Indicator(ToolLoop& loop, LineWriter write, IndicatorConfig config, LineReader read)
    : m_loop(loop), m_write(std::move(write)), m_config(std::move(config)), m_read(std::move(read)),
      m_tare(m_config.tare) {}

Indicator::~Indicator() {
    if (m_timer) m_loop.stopTimer(*m_timer);
    if (m_input) m_loop.stopTimer(*m_input);
    for (ToolLoop::Id id : m_obeying)
        m_loop.stopTimer(id);
}

std::string Indicator::nextFrame(double elapsed) {
    if (!m_config.outputFormat) {
        const double weight =
            m_config.weight ? *m_config.weight : displayedProfile(elapsed, m_config.format.places);
        return encodeFrame(weight, m_config.format);
    }
    return m_config.outputFormat->encode(indicatorSample(elapsed, m_config, m_zero, m_tare));
}

// Commands from the host: the format's zero, tare and print, and the request of request mode.
// Zero and tare are answered with a frame that shows their effect.
void Indicator::onInput() {
    char bytes[256];
    const size_t n = m_read(bytes, sizeof bytes);
    if (n == 0) return;
    m_received.append(bytes, n);
    // The weight on the bridge when a command takes effect, which may be later than it came.
    const auto weight = [this] {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        return indicatorSample(elapsed, m_config, 0, std::nullopt).weight;
    };
    const formats::Commands none;
    const formats::Commands& c = m_config.outputFormat ? m_config.outputFormat->commands : none;
    for (bool matched = true; matched && !m_received.empty();) {
        matched = false;
        for (const std::string* command :
             {static_cast<const std::string*>(&m_config.request), &c.zero, &c.tare, &c.print}) {
            if (command->empty() || m_received.compare(0, command->size(), *command) != 0) continue;
            m_received.erase(0, command->size());
            matched = true;
            const bool zero = command == &c.zero;
            const bool tare = command == &c.tare;
            auto obey = [this, zero, tare, weight] {
                if (zero) m_zero = weight(), m_tare.reset();
                if (tare) m_tare = weight() - m_zero;
                sendNow();
            };
            if ((zero || tare) && m_config.obeyAfter.count() > 0)
                m_obeying.push_back(m_loop.startTimer(m_config.obeyAfter, obey, false));
            else
                obey();
            break;
        }
    }
    // What matches no command, and cannot become one, is dropped.
    if (m_received.size() > 64) m_received.clear();
}

void Indicator::sendNow() {
    if (!flush()) return;
    m_pending = nextFrame(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count());
    flush();
    ++m_sent;
}

double Indicator::frameInterval() const {
    const double bytes =
        static_cast<double>(m_config.outputFormat ? m_config.outputFormat->encode({}).size()
                                                  : encodeFrame(0, m_config.format).size());
    const double line = bytes * m_config.bitsPerCharacter / std::max<uint32_t>(m_config.baud, 1);
    const double wanted = m_config.rate > 0 ? 1.0 / m_config.rate : 0.0;
    return std::max(line, wanted);
}

void Indicator::start() {
    m_start = std::chrono::steady_clock::now();
    if (m_read) m_input = m_loop.startTimer(std::chrono::milliseconds(5), [this] { onInput(); });
    if (!m_config.request.empty()) return; // frames only when asked
    const auto period = std::chrono::milliseconds(
        std::max<int64_t>(1, static_cast<int64_t>(frameInterval() * 1000)));
    m_timer = m_loop.startTimer(period, [this] { tick(); });
    tick();
}

void Indicator::tick() {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    uint64_t due = static_cast<uint64_t>(elapsed / frameInterval()) + 1;
    if (m_config.count > 0) due = std::min(due, m_config.count);
    uint64_t produced = m_sent + m_dropped;
    if (due > produced + kMaxCatchUp) {
        m_dropped += due - produced - kMaxCatchUp;
        produced = due - kMaxCatchUp;
    }
    for (; produced < due; ++produced) {
        if (!flush()) {
            ++m_dropped;
            continue;
        }
        m_pending = nextFrame(elapsed);
        flush();
        ++m_sent;
    }
    if (m_config.count > 0 && produced >= m_config.count && flush()) {
        if (m_timer) m_loop.stopTimer(*m_timer);
        m_timer.reset();
        if (m_onFinished) m_onFinished();
    }
}

// True once nothing of the last frame is left to write.
bool Indicator::flush() {
    while (!m_pending.empty()) {
        std::optional<size_t> n = m_write(m_pending);
        if (!n) {
            m_pending.clear(); // the line is gone (nobody on the other end): the frame is lost
            return true;
        }
        if (*n == 0) return false; // the line is full: nobody is reading
        m_pending.erase(0, *n);
    }
    return true;
}

} // namespace tolvak::cli
