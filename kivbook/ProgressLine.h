// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace kiv::kivbook {

// A line on the terminal that tells how far a long command is ("importing
// 1200/36500"), redrawn at most ten times a second and wiped at the end.
// Silent unless standard output is a terminal.
class ProgressLine {
public:
    explicit ProgressLine(std::string what);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Show(std::size_t done, std::size_t count);
    // Wipes the line, so that other output starts on a clean one.
    void Clear();

private:
    std::string what_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_ {};
};

} // namespace kiv::kivbook
