#include "tolvak/output/text_format.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "base/automation_error.h"
#include "text/line_text.h"
#include "text/number_text.h"
#include "text/utf8.h"

namespace tolvak::cli {

std::string jsonString(std::u16string_view text) {
    return jsonText(toUtf8(text));
}

std::optional<double> weightValue(std::u16string_view text) {
    // The display's own notion of a number, so the value always agrees with the text.
    if (!isNumeric(text)) return std::nullopt;
    try {
        return leadingNumber(text);
    } catch (const AutomationError&) {
        return std::nullopt; // beyond the double range
    }
}

namespace {

struct CivilDate {
    int64_t year;
    int month; // 1 to 12
    int day;   // 1 to 31
};

// The proleptic Gregorian date of a day counted from 1970-01-01, with no call into the C
// library (whose gmtime_r Windows lacks).
CivilDate civilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yearOfEra + era * 400 + (month <= 2), month, day};
}

} // namespace

std::string isoTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    // Rounded down, so that a moment before 1970 lands in the millisecond it began in.
    const int64_t ms = floor<milliseconds>(time.time_since_epoch()).count();
    constexpr int64_t kDayMs = 86400000;
    const int64_t days = (ms >= 0 ? ms : ms - (kDayMs - 1)) / kDayMs;
    const int64_t inDay = ms - days * kDayMs;
    const CivilDate date = civilFromDays(days);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  static_cast<long long>(date.year), date.month, date.day,
                  static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
                  static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
    return buf;
}

namespace {

nlohmann::ordered_json number(double value) {
    if (std::nearbyint(value) == value && std::fabs(value) < 1e15)
        return static_cast<int64_t>(value); // 32000, not 32000.0
    return value;
}

} // namespace

nlohmann::ordered_json readingObject(const Reading& reading) {
    nlohmann::ordered_json object;
    object["weight"] = reading.text;
    object["value"] = reading.value ? number(*reading.value) : nullptr;
    object["stable"] = reading.stable;
    object["time"] = isoTimestamp(reading.time);
    // What the indicator says itself: only the fields its format carries.
    static const char* const kModes[] = {nullptr, "gross", "net", "tare"};
    if (!reading.unit.empty()) object["unit"] = reading.unit;
    if (const char* mode = kModes[static_cast<int>(reading.mode)]) object["mode"] = mode;
    if (reading.indicatorStable) object["indicatorStable"] = *reading.indicatorStable;
    if (reading.overload) object["overload"] = true;
    if (reading.underload) object["underload"] = true;
    if (reading.tare) object["tare"] = number(*reading.tare);
    if (!reading.raw.empty()) object["raw"] = toUtf8(lineText(reading.raw));
    return object;
}

std::string readingJson(const Reading& reading) {
    return jsonText(readingObject(reading));
}

std::string jsonText(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
}

std::string errorJson(const AutomationError& error, std::chrono::system_clock::time_point time) {
    nlohmann::ordered_json object;
    object["error"]["number"] = error.number();
    object["error"]["description"] = toUtf8(error.description());
    object["time"] = isoTimestamp(time);
    return jsonText(object);
}

std::string plainWeight(std::u16string_view weight) {
    std::string text = toUtf8(weight);
    size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? text : text.substr(first);
}

} // namespace tolvak::cli
