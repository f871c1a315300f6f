#include "tolvak/cli_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "acquisition/number_text.h"
#include "control/utf8.h"

namespace tolvak::cli {

bool ParsedArgs::has(const std::string& name) const {
    return value(name).has_value();
}

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
    std::optional<std::string> found;
    for (const auto& [option, value] : options)
        if (option == name) found = value;
    return found;
}

ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs) {
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            parsed.positional.insert(parsed.positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const OptionDef* def = nullptr;
        for (const auto& s : defs)
            if (s.name == name) def = &s;
        if (!def) throw UsageError("unknown option '" + name + "'");
        if (def->valueName.empty()) {
            if (eq != std::string::npos) throw UsageError(name + " takes no value");
            parsed.options.emplace_back(name, "");
        } else if (eq != std::string::npos) {
            parsed.options.emplace_back(name, arg.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            parsed.options.emplace_back(name, args[++i]);
        } else {
            throw UsageError(name + " needs a value (" + def->valueName + ")");
        }
    }
    return parsed;
}

int64_t parseWhole(const std::string& option, const std::string& text, int64_t min, int64_t max) {
    double v = parseNumber(option, text, static_cast<double>(min), static_cast<double>(max));
    if (v != std::floor(v)) throw UsageError(option + ": '" + text + "' is not a whole number");
    return static_cast<int64_t>(v);
}

int16_t parseShort(const std::string& option, const std::string& text) {
    return static_cast<int16_t>(parseWhole(option, text, std::numeric_limits<int16_t>::min(),
                                           std::numeric_limits<int16_t>::max()));
}

double parseNumber(const std::string& option, const std::string& text, double min, double max) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(begin, &end);
    bool whole = !text.empty() && end == begin + text.size() && errno == 0 && std::isfinite(v) &&
                 // no blanks, hexadecimal, infinity or NaN
                 text.find_first_of(" \t\nxXnN") == std::string::npos;
    if (!whole || v < min || v > max) {
        std::string range = toUtf8(decimalText(min)) + " to " + toUtf8(decimalText(max));
        throw UsageError(option + ": '" + text + "' is not a number from " + range);
    }
    return v;
}

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string parseEscapes(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) throw UsageError("'" + text + "' ends in a lone backslash");
        const char c = text[i];
        switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case 'e':
            out += '\x1b';
            break;
        case '\\':
        case '\'':
        case '"':
            out += c;
            break;
        case 'x': {
            int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                throw UsageError("'" + text + "': \\x needs two hexadecimal digits");
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            throw UsageError("'" + text + "': unknown escape \\" + std::string(1, c));
        }
    }
    return out;
}

} // namespace tolvak::cli
