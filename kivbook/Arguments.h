// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv::kivbook {

// Wrong use of the command line: exit status 2, with the command's usage.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& text)
        : std::runtime_error(text)
    {
    }
};

struct OptionRule {
    std::string name; // with its dashes: "--weather"
    bool takesValue = false;
    bool repeatable = false;
    bool optionalValue = false; // a flag that may also be given as "--name=VALUE"
};

// The words after the command: options ("--name VALUE", "--name=VALUE", a
// flag, or a flag with an optional "=VALUE", read as "" without it)
// anywhere, positionals in order. "--" ends the options; a lone "-" is a
// positional (standard input).
class Arguments {
public:
    // Fails with UsageError for an unknown option, a missing value, a value
    // given to a flag and a repeated option that is not repeatable.
    static Arguments Parse(const std::vector<std::string>& words, const std::vector<OptionRule>& rules);

    const std::vector<std::string>& Positionals() const { return positionals_; }
    bool Has(const std::string& name) const { return options_.count(name) != 0; }
    std::optional<std::string> Value(const std::string& name) const;
    std::vector<std::string> Values(const std::string& name) const;

private:
    std::vector<std::string> positionals_;
    std::map<std::string, std::vector<std::string>> options_;
};

// True when the words ask for help (--help or -h before any "--").
bool AsksForHelp(const std::vector<std::string>& words);

} // namespace kiv::kivbook
