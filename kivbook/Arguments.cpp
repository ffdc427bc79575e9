// SPDX-License-Identifier: GPL-3.0-or-later
#include "Arguments.h"
#include "Language.h"

#include <algorithm>

namespace kiv::kivbook {

Arguments Arguments::Parse(const std::vector<std::string>& words, const std::vector<OptionRule>& rules)
{
    Arguments arguments;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            arguments.positionals_.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        auto rule = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& s) { return s.name == name; });
        if (rule == rules.end())
            throw UsageError(Fill(_("unknown option %s"), { name }));
        if (!rule->repeatable && arguments.Has(name))
            throw UsageError(Fill(_("%s given twice"), { name }));
        std::string value;
        if (rule->takesValue) {
            if (equals != std::string::npos)
                value = word.substr(equals + 1);
            else if (i + 1 < words.size())
                value = words[++i];
            else
                throw UsageError(Fill(_("%s needs a value"), { name }));
        } else if (equals != std::string::npos) {
            if (!rule->optionalValue)
                throw UsageError(Fill(_("%s takes no value"), { name }));
            value = word.substr(equals + 1);
            if (value.empty())
                throw UsageError(Fill(_("%s= needs a value"), { name }));
        }
        arguments.options_[name].push_back(value);
    }
    return arguments;
}

std::optional<std::string> Arguments::Value(const std::string& name) const
{
    auto found = options_.find(name);
    if (found == options_.end() || found->second.empty())
        return std::nullopt;
    return found->second.back();
}

std::vector<std::string> Arguments::Values(const std::string& name) const
{
    auto found = options_.find(name);
    return found == options_.end() ? std::vector<std::string> {} : found->second;
}

bool AsksForHelp(const std::vector<std::string>& words)
{
    for (const std::string& word : words) {
        if (word == "--")
            return false;
        if (word == "--help" || word == "-h")
            return true;
    }
    return false;
}

} // namespace kiv::kivbook
