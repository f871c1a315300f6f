#include "tolvak/cli_args.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>

#include <CLI/CLI.hpp>

#include "text/number_text.h"
#include "text/utf8.h"

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

namespace {

const char* const kHelpFlag = "-h,--help";
const char* const kHelpHelp = "show this help and exit";

const OptionDef* findDef(const std::vector<OptionDef>& defs, const std::string& name) {
    for (const auto& def : defs)
        if (def.name == name) return &def;
    return nullptr;
}

// The command's options on a CLI11 app: each may be given again (the last one counts, and all
// of them are seen in order).
void addOptions(CLI::App& app, const std::vector<OptionDef>& defs) {
    app.set_help_flag();
    for (const auto& def : defs) {
        CLI::Option* option = def.valueName.empty()
                                  ? app.add_flag(def.name, def.help)
                                  : app.add_option(def.name, def.help)->type_name(def.valueName);
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
    app.set_help_flag(kHelpFlag, kHelpHelp); // listed last
}

// What CLI11 reads otherwise than this tool: "--name=" is the empty value, which the separator
// options need (CLI11: no value at all), and a flag takes no value, "--flag=" included (CLI11:
// "--json=0" turns it off).
std::vector<std::string> withEmptyValues(const std::vector<std::string>& args,
                                         const std::vector<OptionDef>& defs) {
    std::vector<std::string> out;
    bool options = true;
    for (const std::string& arg : args) {
        if (arg == "--") options = false;
        const size_t eq = options ? arg.find('=') : std::string::npos;
        const OptionDef* def = eq == std::string::npos ? nullptr : findDef(defs, arg.substr(0, eq));
        if (def && def->valueName.empty()) throw UsageError(def->name + " takes no value");
        if (def && eq + 1 == arg.size()) {
            out.push_back(def->name);
            out.emplace_back();
        } else {
            out.push_back(arg);
        }
    }
    return out;
}

// CLI11 finds a value missing at the end of the line itself; this says so in the tool's words.
std::string mismatchMessage(const CLI::ArgumentMismatch& e, const std::vector<OptionDef>& defs) {
    const std::string what = e.what(); // "--seconds: 1 required S missing"
    const std::string name = what.substr(0, what.find(':'));
    if (const OptionDef* def = findDef(defs, name))
        return name + " needs a value (" + def->valueName + ")";
    return what;
}

} // namespace

ParsedArgs parseArgs(const std::vector<std::string>& args, const std::vector<OptionDef>& defs) {
    CLI::App app;
    addOptions(app, defs);
    app.allow_extras(); // unknown options and arguments come back in order, for our own words
    std::vector<std::string> line = withEmptyValues(args, defs);
    std::reverse(line.begin(), line.end()); // CLI11 takes its arguments last first
    ParsedArgs parsed;
    try {
        app.parse(line);
    } catch (const CLI::CallForHelp&) {
        parsed.help = true;
        return parsed;
    } catch (const CLI::ArgumentMismatch& e) {
        throw UsageError(mismatchMessage(e, defs));
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    std::map<const CLI::Option*, size_t> taken;
    for (const CLI::Option* option : app.parse_order()) {
        const std::vector<std::string>& values = option->results();
        const size_t i = taken[option]++;
        const OptionDef* def = findDef(defs, option->get_name());
        const bool flag = !def || def->valueName.empty();
        parsed.options.emplace_back(option->get_name(),
                                    flag || i >= values.size() ? "" : values[i]);
    }
    bool options = true;
    for (const std::string& arg : app.remaining()) {
        if (options && arg == "--") {
            options = false;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg.substr(0, arg.find('=')) + "'");
        } else {
            parsed.positional.push_back(arg);
        }
    }
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
