#include "acquisition/formats/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tolvak::formats {

// One function per format file.
const Format& controlFormat();
const Format& lineFormat();

const std::vector<const Format*>& allFormats() {
    static const std::vector<const Format*> all = {
        &controlFormat(),
        &lineFormat(),
    };
    return all;
}

const Format* findFormat(std::string_view name) {
    for (const Format* f : allFormats())
        if (f->name == name) return f;
    return nullptr;
}

std::string formatNames() {
    std::string names;
    for (const Format* f : allFormats()) {
        if (!names.empty()) names += ", ";
        names += f->name;
    }
    return names;
}

Fit fit(Decoder& decoder, std::string_view bytes, size_t chunkSize) {
    // A handful of frames are needed before a match means anything; two could be chance.
    constexpr double kEnoughFrames = 4;
    std::vector<Frame> frames;
    const size_t step = chunkSize == 0 ? std::max<size_t>(bytes.size(), 1) : chunkSize;
    for (size_t at = 0; at < bytes.size(); at += step)
        decoder.feed(bytes.substr(at, step), frames);
    Fit result;
    result.bytes = bytes.size();
    uint64_t rejectedBytes = 0;
    for (const Frame& f : frames) {
        if (f.status == Frame::Status::Ok && f.value) {
            ++result.frames;
            result.coveredBytes += f.raw.size();
        } else {
            ++result.rejected;
            rejectedBytes += f.raw.size();
        }
    }
    // Bytes still waiting for the rest of their frame are left out: a capture ends anywhere.
    const double judged =
        static_cast<double>(result.coveredBytes + rejectedBytes + decoder.skipped());
    if (result.frames == 0 || judged == 0) return result;
    const double share = static_cast<double>(result.coveredBytes) / judged;
    const double good = static_cast<double>(result.frames) /
                        static_cast<double>(result.frames + result.rejected);
    result.confidence =
        share * good * std::min(1.0, static_cast<double>(result.frames) / kEnoughFrames);
    return result;
}

std::optional<Number> parseNumber(std::string_view text) {
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && text[i] == ' ')
            ++i;
    };
    skipBlanks();
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
        skipBlanks();
    }
    std::string digits;
    int places = -1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits += c;
            if (places >= 0) ++places;
        } else if ((c == '.' || c == ',') && places < 0) {
            places = 0;
        } else {
            return std::nullopt;
        }
    }
    if (digits.empty()) return std::nullopt;
    return scaledNumber(digits, std::max(places, 0), negative);
}

std::optional<Number> scaledNumber(std::string_view digits, int places, bool negative) {
    if (digits.empty() || places < 0 || places > 9) return std::nullopt;
    std::string d;
    for (char c : digits) {
        if (c == ' ') c = '0'; // indicators blank leading zeros
        if (c < '0' || c > '9') return std::nullopt;
        d += c;
    }
    if (d.size() <= static_cast<size_t>(places)) d.insert(0, places + 1 - d.size(), '0');
    const size_t whole = d.size() - places;
    const size_t first = std::min(d.find_first_not_of('0'), whole - 1);
    std::string text = d.substr(first, whole - first);
    if (places > 0) text += '.' + d.substr(whole);
    const double value = std::stod(text);
    Number n;
    n.value = negative && value != 0 ? -value : value;
    n.text = (negative && value != 0 ? "-" : "") + text;
    return n;
}

std::string paddedNumber(double magnitude, int places, size_t width) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0*.*f", static_cast<int>(width), places, std::fabs(magnitude));
    std::string text = buf;
    if (text.size() > width || !std::isfinite(magnitude))
        throw std::out_of_range("weight does not fit the frame");
    return text;
}

} // namespace tolvak::formats
