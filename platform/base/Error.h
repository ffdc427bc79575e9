// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace kiv {

// An error that ends the current command and reaches the general error
// report. Its text (UTF-8) is the program's own message, shown as it stands.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

// Replaces the first "%s" of a message with an argument.
std::string Format(std::string pattern, const std::string& argument);

} // namespace kiv
