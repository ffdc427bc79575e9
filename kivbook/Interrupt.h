// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>

namespace kiv::kivbook {

// Ctrl-C and termination requests end a command between two steps, so that
// what it has written so far is cleaned up on the way out (temporary
// folders, the terminal's echo) instead of being left behind.
class Interrupted : public std::runtime_error {
public:
    Interrupted()
        : std::runtime_error("interrupted")
    {
    }
};

// Installs the handlers for SIGINT, SIGTERM and SIGHUP; they only take note.
void CatchInterrupts();
bool InterruptRequested();
// Fails with Interrupted once a signal has arrived.
void CheckInterrupt();
// The exit status for the signal that arrived (128 + its number).
int InterruptExitStatus();

} // namespace kiv::kivbook
