#pragma once

#include <cstdint>
#include <random>

namespace tolvak {

// The clock-seeded pseudo-random generator behind the simulated readings.
class RandomSource {
  public:
    virtual ~RandomSource() = default;
    virtual void seedFromClock() = 0;
    // Uniform in [0, 1); callers still guard against 1.
    virtual float nextSingle() = 0;
};

class ClockRandom : public RandomSource {
  public:
    void seedFromClock() override;
    float nextSingle() override;

  private:
    std::mt19937 m_engine;
};

} // namespace tolvak
