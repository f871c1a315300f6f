#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "base/automation_error.h"
#include "tolvak/scale.h"

namespace tolvak::cli {

// A JSON string literal of the control's text. Control characters and everything from 0x7F up
// are escaped, so received bytes come out exactly and the output stays ASCII.
std::string jsonString(std::u16string_view text);

// The display text as a number: blanks around it ignored; nothing when it is not one.
std::optional<double> weightValue(std::u16string_view text);

// 2026-01-31T12:00:00.123Z
std::string isoTimestamp(std::chrono::system_clock::time_point time);

// One reading as a JSON object: weight text, value, stable flag, time; keys in that order. Then,
// only where the format carries them: unit, mode, indicatorStable, overload, underload, tare,
// and raw (the frame's bytes, each as the character of that code).
nlohmann::ordered_json readingObject(const Reading& reading);
// The same on one line, ASCII only (without the newline).
std::string readingJson(const Reading& reading);
// JSON text of a value as this tool writes it: one line, ASCII only.
std::string jsonText(const nlohmann::ordered_json& value);

// One error of the receive handler as a JSON object line (without the newline):
// {"error":{"number":6,"description":"Overflow"},"time":"2026-01-31T12:00:00.123Z"}
std::string errorJson(const AutomationError& error, std::chrono::system_clock::time_point time);

// The display text for a plain line: the blank a simulated reading carries in front goes.
std::string plainWeight(std::u16string_view weight);

} // namespace tolvak::cli
