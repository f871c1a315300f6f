#include "tolvak/cli/options.h"

namespace tolvak::cli {

void Options::flag(const std::string& name, const std::string& help, bool& field) {
    m_defs.push_back({name, "", help, [&field](const std::string&) { field = true; }});
}

void Options::value(const std::string& name, const std::string& valueName, const std::string& help,
                    Reader read) {
    m_defs.push_back({name, valueName, help, std::move(read)});
}

void Options::text(const std::string& name, const std::string& valueName, const std::string& help,
                   std::optional<std::string>& field) {
    value(name, valueName, help, [&field](const std::string& v) { field = v; });
}

void Options::seconds(const std::string& name, const std::string& help,
                      std::optional<double>& field) {
    value(name, "S", help,
          [&field, name](const std::string& v) { field = parseNumber(name, v, 0.001, 1e7); });
}

void Options::alsoRead(const std::string& name, Reader read) {
    for (OptionDef& def : m_defs)
        if (def.name == name) {
            def.read = [first = std::move(def.read), then = std::move(read)](const std::string& v) {
                first(v);
                then(v);
            };
            return;
        }
}

void Options::arguments(std::vector<std::string>& field) {
    m_arguments = &field;
}

void Options::check(std::function<void()> check) {
    m_checks.push_back(std::move(check));
}

std::vector<std::string> Options::givenWords(size_t from) const {
    std::vector<std::string> words;
    for (const auto& [index, value] : m_given) {
        if (index < from) continue;
        const OptionDef& def = m_defs[index];
        words.push_back(def.valueName.empty() ? def.name : def.name + "=" + value);
    }
    return words;
}

bool Options::parse(const std::vector<std::string>& args) {
    const ParsedArgs parsed = parseArgs(args, m_defs);
    if (parsed.help) return false;
    if (m_arguments)
        *m_arguments = parsed.positional;
    else if (!parsed.positional.empty())
        throw UsageError("unexpected argument '" + parsed.positional.front() + "'");
    for (const auto& [name, value] : parsed.options)
        for (size_t i = 0; i < m_defs.size(); ++i)
            if (m_defs[i].name == name) {
                m_given.emplace_back(i, value);
                if (m_defs[i].read) m_defs[i].read(value);
            }
    for (const auto& check : m_checks)
        check();
    return true;
}

} // namespace tolvak::cli
