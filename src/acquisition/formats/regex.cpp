// A format of the user's: a regular expression whose named groups say where the value, unit,
// status, gross/net/tare mode and tare are. std::regex has no named groups, so the names are
// taken out of the pattern here and mapped to group numbers.
#include <algorithm>
#include <map>
#include <regex>
#include <stdexcept>

#include "acquisition/formats/format.h"

namespace tolvak::formats {

namespace {

constexpr size_t kMaxPending = 4096;

struct NamedPattern {
    std::string pattern;                  // with the names removed
    std::map<std::string, size_t> groups; // name → group number
};

// "(?<name>...)" and "(?P<name>...)" become plain groups; the others are counted as they stand.
NamedPattern stripNames(std::string_view p) {
    NamedPattern out;
    size_t count = 0;
    bool inClass = false;
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '\\' && i + 1 < p.size()) {
            out.pattern += p.substr(i, 2);
            ++i;
            continue;
        }
        if (inClass) {
            inClass = c != ']';
        } else if (c == '[') {
            inClass = true;
            if (p.substr(i + 1, 1) == "]" || p.substr(i + 1, 2) == "^]") {
                const size_t len = p[i + 1] == ']' ? 2 : 3;
                out.pattern += p.substr(i, len);
                i += len - 1;
                continue;
            }
        } else if (c == '(') {
            const size_t start = p.substr(i + 1, 2) == "?<"    ? i + 3
                                 : p.substr(i + 1, 3) == "?P<" ? i + 4
                                                               : std::string_view::npos;
            if (start != std::string_view::npos && p.substr(start, 1) != "=" &&
                p.substr(start, 1) != "!") {
                const size_t end = p.find('>', start);
                if (end == std::string_view::npos || end == start)
                    throw std::invalid_argument("a group name is not closed by '>'");
                out.groups[std::string(p.substr(start, end - start))] = ++count;
                out.pattern += '(';
                i = end;
                continue;
            }
            if (p.substr(i + 1, 1) != "?") ++count;
        }
        out.pattern += c;
    }
    if (!out.groups.count("value"))
        throw std::invalid_argument("the pattern needs a group named value: (?<value>...)");
    return out;
}

// What the groups capture, as the tool's --map options give it: "KEY=V1,V2", KEY a status
// (stable, motion, overload, underload), a mode (gross, net, tare) or a unit name.
struct Maps {
    std::map<std::string, std::string> status, mode, unit; // captured text → key
};

Maps parseMaps(const std::vector<std::string>& entries) {
    static const std::vector<std::string_view> kStatus = {"stable", "motion", "overload",
                                                          "underload"};
    static const std::vector<std::string_view> kMode = {"gross", "net", "tare"};
    Maps out;
    for (const std::string& e : entries) {
        const size_t eq = e.find('=');
        const std::string key = e.substr(0, eq);
        if (eq == std::string::npos || eq == 0 || eq + 1 == e.size() ||
            key.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ") !=
                std::string::npos)
            throw std::invalid_argument("--map '" + e +
                                        "' is not KEY=VALUE[,VALUE...] (e.g. stable=S,ST)");
        auto& table = std::find(kStatus.begin(), kStatus.end(), key) != kStatus.end() ? out.status
                      : std::find(kMode.begin(), kMode.end(), key) != kMode.end()     ? out.mode
                                                                                      : out.unit;
        for (size_t at = eq + 1; at <= e.size();) {
            const size_t comma = std::min(e.find(',', at), e.size());
            table[e.substr(at, comma - at)] = key;
            at = comma + 1;
        }
    }
    return out;
}

std::string trimmed(std::string s) {
    s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

class RegexDecoder : public Decoder {
  public:
    explicit RegexDecoder(const Settings& s)
        : m_named(stripNames(s.pattern)), m_maps(parseMaps(s.map)), m_places(s.decimals) {
        try {
            m_regex.assign(m_named.pattern, std::regex::ECMAScript);
        } catch (const std::regex_error& e) {
            throw std::invalid_argument(std::string("the pattern is not a regular expression: ") +
                                        e.what());
        }
    }

    void feed(std::string_view bytes, std::vector<Frame>& out) override {
        m_pending += bytes;
        std::smatch m;
        size_t at = 0;
        while (std::regex_search(m_pending.cbegin() + at, m_pending.cend(), m, m_regex) &&
               m.length(0) > 0) {
            const size_t start = at + m.position(0), end = start + m.length(0);
            // A match up to the end of what has come may still grow, unless a line end or ETX
            // closes it.
            const char last = m_pending[end - 1];
            if (end == m_pending.size() && last != '\r' && last != '\n' && last != 0x03) break;
            m_skipped += start - at;
            out.push_back(decode(m));
            at = end;
        }
        m_pending.erase(0, at);
        if (m_pending.size() > kMaxPending) {
            m_skipped += m_pending.size() - kMaxPending;
            m_pending.erase(0, m_pending.size() - kMaxPending);
        }
    }

  private:
    std::string group(const std::smatch& m, const char* name) const {
        auto it = m_named.groups.find(name);
        return it == m_named.groups.end() || it->second >= m.size() ? std::string()
                                                                    : m.str(it->second);
    }

    Frame decode(const std::smatch& m) const {
        Frame frame;
        frame.raw = m.str(0);
        std::string value = group(m, "value");
        std::string sign = group(m, "sign");
        auto number = parseNumber(sign + value, m_places);
        if (!number) {
            frame.status = Frame::Status::Malformed;
            return frame;
        }
        frame.text = number->text;
        frame.value = number->value;
        const std::string unit = trimmed(group(m, "unit"));
        auto mapped = m_maps.unit.find(unit);
        frame.unit = mapped != m_maps.unit.end() ? mapped->second : unit;
        if (auto tare = parseNumber(group(m, "tare"), m_places)) frame.tare = tare->value;
        static const std::map<std::string, std::string> kModes = {{"G", "gross"}, {"GS", "gross"},
                                                                  {"N", "net"},   {"NT", "net"},
                                                                  {"T", "tare"},  {"TR", "tare"}};
        static const std::map<std::string, std::string> kStates = {
            {"ST", "stable"}, {"S", "stable"}, {"US", "motion"},
            {"M", "motion"},  {"U", "motion"}, {"OL", "overload"}};
        auto lookUp = [](const std::map<std::string, std::string>& own,
                         const std::map<std::string, std::string>& defaults, const std::string& v) {
            auto it = own.find(v);
            if (it != own.end()) return it->second;
            it = defaults.find(v);
            return it != defaults.end() ? it->second : std::string();
        };
        const std::string mode = lookUp(m_maps.mode, kModes, trimmed(group(m, "mode")));
        if (mode == "gross") frame.mode = WeightMode::Gross;
        if (mode == "net") frame.mode = WeightMode::Net;
        if (mode == "tare") frame.mode = WeightMode::Tare;
        const std::string status = lookUp(m_maps.status, kStates, trimmed(group(m, "status")));
        if (status == "stable") frame.stable = true;
        if (status == "motion") frame.stable = false;
        if (status == "overload" || status == "underload") {
            frame.stable = false;
            frame.range = status == "underload" || (status == "overload" && frame.value < 0)
                              ? Range::Underload
                              : Range::Overload;
        }
        return frame;
    }

    NamedPattern m_named;
    Maps m_maps;
    int m_places;
    std::regex m_regex;
    std::string m_pending;
};

} // namespace

const Format& regexFormat() {
    static const Format format{
        "regex",
        "your own: a regular expression (--pattern) with named groups value, and optionally "
        "sign, unit, status (ST/US/OL, M), mode (GS/NT/TR, G/N/T) and tare",
        "W:+12.50kg\r\n",
        [](const Settings& s) -> std::unique_ptr<Decoder> {
            return std::make_unique<RegexDecoder>(s);
        },
        nullptr,
        {},
        kUsesDecimals | kUsesPattern,
    };
    return format;
}

} // namespace tolvak::formats
