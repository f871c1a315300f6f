#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tolvak/cli/cli_args.h"

namespace tolvak::cli {

// A command's options, each bound to what it sets in the command's typed settings. The command
// line is split once (parseArgs); each value then goes through its option's reader in the order
// given, so a later value wins and the first bad one is the one reported. After the parse the
// settings hold everything: nothing asks for an option by its name.
class Options {
  public:
    using Reader = std::function<void(const std::string& value)>;

    // A flag: field becomes true when it is given.
    void flag(const std::string& name, const std::string& help, bool& field);
    // An option with a value, read by read each time it is given.
    void value(const std::string& name, const std::string& valueName, const std::string& help,
               Reader read);
    // The value as given, the last one standing.
    void text(const std::string& name, const std::string& valueName, const std::string& help,
              std::optional<std::string>& field);
    // Seconds from 0.001 up (--timeout, --seconds); the field keeps its value when not given.
    void seconds(const std::string& name, const std::string& help, std::optional<double>& field);
    // Another reader for an option already bound: a command that needs a shared option's value
    // for a purpose of its own.
    void alsoRead(const std::string& name, Reader read);
    // The words that are not options; without this call there must be none.
    void arguments(std::vector<std::string>& field);
    // A check across options, run after every value has been read, in the order added.
    void check(std::function<void()> check);

    const std::vector<OptionDef>& defs() const { return m_defs; }
    // The options given among defs()[from...], as words that give them again ("--name=value",
    // "--flag"), in their order.
    std::vector<std::string> givenWords(size_t from) const;

    // Throws UsageError. False when --help was asked for: nothing has been read then.
    bool parse(const std::vector<std::string>& args);

  private:
    std::vector<OptionDef> m_defs;
    std::vector<std::function<void()>> m_checks;
    std::vector<std::string>* m_arguments = nullptr;
    std::vector<std::pair<size_t, std::string>> m_given; // def index, value
};

} // namespace tolvak::cli
