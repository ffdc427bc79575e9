// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgressLine.h"

#include <unistd.h>

namespace kiv::kivbook {
namespace {

// Straight to the descriptor: standard output's stream is not synchronised
// with stdio, and its text is flushed before a progress line starts.
void Write(const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

ProgressLine::ProgressLine(std::string what)
    : what_(std::move(what))
    , terminal_(::isatty(STDOUT_FILENO) == 1)
{
}

ProgressLine::~ProgressLine()
{
    Clear();
}

void ProgressLine::Show(std::size_t done, std::size_t count)
{
    if (!terminal_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && done < count && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    shown_ = true;
    Write("\r" + what_ + " " + std::to_string(done) + "/" + std::to_string(count) + "\033[K");
}

void ProgressLine::Clear()
{
    if (!shown_)
        return;
    Write("\r\033[K");
    shown_ = false;
}

} // namespace kiv::kivbook
