// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kiv {

class FormHost;

// What the window of the same day across the years needs from the main
// window beyond what every child window gets.
class YearsHost {
public:
    virtual ~YearsHost() = default;

    virtual FormHost& formHost() = 0;
    // The book file name (the full path); empty when no book is named.
    virtual const std::string& BookFileName() const = 0;
    // Whether the named book is open: only then are its days read.
    virtual bool BookOpen() const = 0;
};

} // namespace kiv
