#include "acquisition/formats/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tolvak::formats {

// One function per format file.
const Format& controlFormat();
const Format& lineFormat();
const Format& statusFormat();
const Format& toledoFormat();
const Format& toledoChecksumFormat();
const Format& stxEtxFormat();
const Format& regexFormat();
const Format& streamFormat();
const Format& lineChecksumFormat();
const Format& balanceFormat();
const Format& smaFormat();
const Format& posFormat();

const std::vector<const Format*>& allFormats() {
    // line reads streams too: stream, the narrower, comes first and so wins their ties.
    static const std::vector<const Format*> all = {
        &controlFormat(),      &streamFormat(),         &lineFormat(),   &statusFormat(),
        &toledoFormat(),       &toledoChecksumFormat(), &stxEtxFormat(), &regexFormat(),
        &lineChecksumFormat(), &balanceFormat(),        &smaFormat(),    &posFormat(),
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
    // A capture starts anywhere too: its first frame may be the tail of one, and is not judged.
    const size_t first = frames.size() > 1 ? 1 : 0;
    for (size_t i = first; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        if (f.status == Frame::Status::Ok && f.value) {
            ++result.frames;
            result.coveredBytes += f.raw.size();
        } else if (f.status == Frame::Status::NoWeight) {
            ++result.noWeight; // a busy or moving scale says so; that is no fault of the decoder
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
    const double good =
        static_cast<double>(result.frames) / static_cast<double>(result.frames + result.rejected);
    result.confidence =
        share * good * std::min(1.0, static_cast<double>(result.frames) / kEnoughFrames);
    return result;
}

std::string_view LinesDecoder::body(const std::string& raw) {
    std::string_view b(raw.data(), raw.empty() ? 0 : raw.size() - 1);
    if (!b.empty() && b.front() == StxDecoder::kStx) b.remove_prefix(1);
    return b;
}

void LinesDecoder::feed(std::string_view bytes, std::vector<Frame>& out) {
    for (char c : bytes) {
        if (c == StxDecoder::kStx) {
            m_skipped += m_line.size();
            m_line.assign(1, c);
            continue;
        }
        if (c != '\r' && c != '\n' && c != 0x03) {
            if (m_line.size() == m_maxLine) {
                m_skipped += m_line.size();
                m_line.clear();
            }
            m_line += c;
            continue;
        }
        // CR LF ends one line; the empty line between the two is no frame.
        if (m_line == "\x02")
            ++m_skipped;
        else if (!m_line.empty())
            out.push_back(decodeLine(m_line + c));
        m_line.clear();
    }
}

void StxDecoder::feed(std::string_view bytes, std::vector<Frame>& out) {
    m_pending += bytes;
    size_t at = 0;
    while (true) {
        const size_t stx = m_pending.find(kStx, at);
        m_skipped += (stx == std::string::npos ? m_pending.size() : stx) - at;
        if (stx == std::string::npos) {
            at = m_pending.size();
            break;
        }
        at = stx;
        const size_t next = m_pending.find(kStx, stx + 1);
        if (next != std::string::npos && next <= stx + m_endIndex) {
            Frame cut;
            cut.status = Frame::Status::Malformed;
            cut.raw = m_pending.substr(stx, next - stx);
            out.push_back(std::move(cut));
            at = next;
            continue;
        }
        if (m_pending.size() - stx < m_length) break; // the rest has not come yet
        if (m_pending[stx + m_endIndex] != m_endByte) {
            ++m_skipped; // an STX in noise
            at = stx + 1;
            continue;
        }
        out.push_back(decodeFrame(m_pending.substr(stx, m_length)));
        at = stx + m_length;
    }
    m_pending.erase(0, at);
}

std::optional<Number> parseNumber(std::string_view text, int impliedPlaces) {
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
        } else if (c == ' ' && !digits.empty() &&
                   text.find_first_not_of(' ', i) == std::string_view::npos) {
            break;
        } else {
            return std::nullopt;
        }
    }
    if (digits.empty()) return std::nullopt;
    return scaledNumber(digits, places < 0 ? impliedPlaces : places, negative);
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
    if (!std::isfinite(magnitude) || std::fabs(magnitude) > 1e15)
        throw std::out_of_range("weight is not a number");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0*.*f", static_cast<int>(width), places, std::fabs(magnitude));
    std::string text = buf;
    if (width > 0 && text.size() > width) throw std::out_of_range("weight does not fit the frame");
    return text;
}

std::string xorHex(std::string_view bytes) {
    unsigned x = 0;
    for (char c : bytes)
        x ^= static_cast<unsigned char>(c);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", x & 0xFF);
    return hex;
}

} // namespace tolvak::formats
