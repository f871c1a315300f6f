#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "control/automation_error.h"

namespace tolvak::cli {

// A JSON string literal of the control's text. Code units below 0x20 and from 0x7F up are
// written as \u escapes, so received bytes come out exactly and the output stays ASCII.
std::string jsonString(std::u16string_view text);

// The display text as a number: blanks around it ignored; nothing when it is not one.
std::optional<double> weightValue(std::u16string_view text);

// 2026-01-31T12:00:00.123Z
std::string isoTimestamp(std::chrono::system_clock::time_point time);

// One reading as a JSON object line (without the newline).
std::string readingJson(std::u16string_view weight, std::chrono::system_clock::time_point time);

// One error of the receive handler as a JSON object line (without the newline):
// {"error":{"number":6,"description":"Overflow"},"time":"2026-01-31T12:00:00.123Z"}
std::string errorJson(const AutomationError& error, std::chrono::system_clock::time_point time);

// The display text for a plain line: the blank a simulated reading carries in front goes.
std::string plainWeight(std::u16string_view weight);

} // namespace tolvak::cli
