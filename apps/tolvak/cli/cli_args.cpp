#include "tolvak/cli/cli_args.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <CLI/CLI.hpp>

#include "text/number_text.h"
#include "text/utf8.h"

namespace tolvak::cli {

namespace {

const char* const kHelpFlag = "-h,--help";
const char* const kHelpHelp = "show this help and exit";

const OptionDef* findDef(const std::vector<OptionDef>& defs, const std::string& name) {
    for (const auto& def : defs)
        if (def.name == name) return &def;
    return nullptr;
}

// The command's options on a CLI11 app, for --help.
void addOptions(CLI::App& app, const std::vector<OptionDef>& defs) {
    app.set_help_flag();
    for (const auto& def : defs) {
        if (def.valueName.empty())
            app.add_flag(def.name, def.help);
        else
            app.add_option(def.name, def.help)->type_name(def.valueName);
    }
    app.set_help_flag(kHelpFlag, kHelpHelp); // listed last
}

} // namespace

// One pass from left to right, so that every word is read once and by the same rules: an
// option that takes a value takes the next word whatever it is ("--", "--json", "-3", ""), and
// only a "--" that is no value ends the options. The first mistake is kept until the end, since
// --help anywhere among the options still wins.
ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs) {
    ParsedArgs parsed;
    std::optional<std::string> mistake;
    auto fail = [&](std::string message) {
        if (!mistake) mistake = std::move(message);
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            parsed.positional.insert(parsed.positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            return parsed;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const OptionDef* def = findDef(defs, name);
        if (!def) {
            fail("unknown option '" + name + "'");
        } else if (def->valueName.empty()) {
            if (eq != std::string::npos)
                fail(name + " takes no value");
            else
                parsed.options.emplace_back(name, "");
        } else if (eq != std::string::npos) {
            parsed.options.emplace_back(name, arg.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            parsed.options.emplace_back(name, args[++i]);
        } else {
            fail(name + " needs a value (" + def->valueName + ")");
        }
    }
    if (mistake) throw UsageError(*mistake);
    return parsed;
}

namespace {

// The layout of the tool's help: usage first, then what it does, then the options.
class HelpFormatter : public CLI::Formatter {
  public:
    explicit HelpFormatter(std::string arguments) : m_arguments(std::move(arguments)) {
        column_width(26);
        label("OPTIONS", "options");
        label("SUBCOMMAND", "COMMAND");
    }

    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string usage = "usage: " + name;
        if (!app->get_subcommands([](const CLI::App*) { return true; }).empty())
            usage += " COMMAND [options]";
        else if (!app->get_options().empty())
            usage += " [options]";
        if (!m_arguments.empty()) usage += " " + m_arguments;
        return usage + "\n";
    }

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::string text = make_usage(app, name) + "\n" + app->get_description() + "\n";
        if (!app->get_footer().empty()) text += "\n" + app->get_footer();
        // Each group starts with a blank line of its own.
        return text + make_groups(app, mode) + make_subcommands(app, mode);
    }

  private:
    std::string m_arguments;
};

} // namespace

std::string helpText(const CommandHelp& command) {
    CLI::App app(command.summary, command.name);
    app.option_defaults()->group("options");
    addOptions(app, command.options);
    app.footer(command.notes);
    app.formatter(std::make_shared<HelpFormatter>(command.arguments));
    return app.help();
}

std::string toolHelpText(const std::string& summary, const std::vector<CommandHelp>& commands,
                         const std::string& footer) {
    CLI::App app(summary, "tolvak");
    app.set_help_flag();
    for (const CommandHelp& command : commands)
        app.add_subcommand(command.name, command.summary)->group("commands");
    auto formatter = std::make_shared<HelpFormatter>("");
    formatter->column_width(14);
    app.formatter(formatter);
    return app.help() + "\n" + footer;
}

namespace {

std::string rangeText(double min, double max) {
    return toUtf8(decimalText(min)) + " to " + toUtf8(decimalText(max));
}

} // namespace

int64_t parseWhole(const std::string& option, const std::string& text, int64_t min, int64_t max) {
    // From the digits alone: no blanks, exponent or fraction that a reading as a double would let
    // pass (32767.0000000000000001 is not 32767).
    const char* begin = text.data() + (!text.empty() && text[0] == '+');
    const char* end = text.data() + text.size();
    const bool signed_ = begin != text.data();
    int64_t v = 0;
    const auto [stop, error] = std::from_chars(begin, end, v);
    if (begin == end || (signed_ && !std::isdigit(static_cast<unsigned char>(*begin))) ||
        stop != end || error != std::errc() || v < min || v > max)
        throw UsageError(option + ": '" + text + "' is not a whole number from " +
                         rangeText(static_cast<double>(min), static_cast<double>(max)));
    return v;
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
    const bool blank =
        std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
    bool whole = !text.empty() && end == begin + text.size() && errno == 0 && std::isfinite(v) &&
                 // no blanks, hexadecimal, infinity or NaN
                 !blank && text.find_first_of("xXnN") == std::string::npos;
    if (!whole || v < min || v > max)
        throw UsageError(option + ": '" + text + "' is not a number from " + rangeText(min, max));
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
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7': {
            // As C: up to three octal digits, and no more than a byte holds.
            int value = 0;
            size_t digits = 0;
            for (; digits < 3 && i + digits < text.size(); ++digits) {
                const char d = text[i + digits];
                if (d < '0' || d > '7') break;
                value = value * 8 + (d - '0');
            }
            if (value > 0xFF)
                throw UsageError("'" + text + "': \\" + text.substr(i, digits) +
                                 " is more than a byte (\\377 at most)");
            out += static_cast<char>(value);
            i += digits - 1;
            break;
        }
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
        case '?':
            out += c;
            break;
        case 'x': {
            int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            // C would read every hexadecimal digit that follows, a shell two: a third is refused
            // rather than read one way or the other.
            const bool third = i + 3 < text.size() && hexValue(text[i + 3]) >= 0;
            if (hi < 0 || lo < 0 || third)
                throw UsageError("'" + text + "': \\x takes exactly two hexadecimal digits");
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
