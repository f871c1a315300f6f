#include "tolvak/text_format.h"

#include <cstdio>
#include <ctime>

#include "acquisition/number_text.h"
#include "control/automation_error.h"
#include "control/utf8.h"

namespace tolvak::cli {

std::string jsonString(std::u16string_view text) {
    std::string out = "\"";
    for (char16_t c : text) {
        switch (c) {
        case u'"':
            out += "\\\"";
            break;
        case u'\\':
            out += "\\\\";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
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

std::string isoTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return buf;
}

std::string readingJson(std::u16string_view weight, std::chrono::system_clock::time_point time) {
    std::string out = "{\"weight\":" + jsonString(weight) + ",\"value\":";
    if (auto v = weightValue(weight)) {
        out += toUtf8(decimalText(*v));
    } else {
        out += "null";
    }
    out += ",\"time\":\"" + isoTimestamp(time) + "\"}";
    return out;
}

std::string errorJson(const AutomationError& error, std::chrono::system_clock::time_point time) {
    return "{\"error\":{\"number\":" + std::to_string(error.number()) +
           ",\"description\":" + jsonString(error.description()) + "},\"time\":\"" +
           isoTimestamp(time) + "\"}";
}

std::string plainWeight(std::u16string_view weight) {
    std::string text = toUtf8(weight);
    size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? text : text.substr(first);
}

} // namespace tolvak::cli
