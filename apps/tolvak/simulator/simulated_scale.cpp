#include "tolvak/simulator/simulated_scale.h"

#include <cstdio>

#include "tolvak/simulator/indicator.h"

namespace tolvak::cli {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

SimulatedScale::SimulatedScale(std::chrono::milliseconds interval)
    : m_interval(interval), m_start(std::chrono::steady_clock::now()) {}

Reading SimulatedScale::reading() const {
    const formats::Sample sample =
        indicatorSample(secondsSince(m_start), IndicatorConfig{}, m_zero, m_tare);
    Reading r;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", sample.places, sample.weight + 0.0);
    r.text = text;
    r.value = sample.weight;
    r.time = std::chrono::system_clock::now();
    r.stable = sample.stable;
    r.indicatorStable = sample.stable;
    r.unit = sample.unit;
    r.mode = static_cast<WeightMode>(sample.mode); // the same four, in the same order
    if (m_tare) r.tare = sample.tare;
    return r;
}

void SimulatedScale::command(Scale::Command command) {
    const double gross = indicatorSample(secondsSince(m_start), IndicatorConfig{}, 0, {}).weight;
    if (command == Scale::Command::Zero) m_zero = gross, m_tare.reset();
    if (command == Scale::Command::Tare) m_tare = gross - m_zero;
    if (m_onReading) m_onReading(reading());
}

void SimulatedScale::run() {
    auto due = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopped) {
        if (!m_posted.empty() || m_wake.wait_until(lock, due) == std::cv_status::no_timeout) {
            std::vector<std::function<void()>> tasks;
            tasks.swap(m_posted);
            lock.unlock();
            for (auto& task : tasks)
                task();
            lock.lock();
            continue;
        }
        lock.unlock();
        if (m_onReading) m_onReading(reading());
        // A late loop does not send a burst to catch up.
        due = std::max(due + m_interval, std::chrono::steady_clock::now());
        lock.lock();
    }
}

void SimulatedScale::stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    m_wake.notify_all();
}

void SimulatedScale::post(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_posted.push_back(std::move(task));
    m_wake.notify_all();
}

} // namespace tolvak::cli
