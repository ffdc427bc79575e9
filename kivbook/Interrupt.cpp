// SPDX-License-Identifier: GPL-3.0-or-later
#include "Interrupt.h"

#include <csignal>

namespace kiv::kivbook {
namespace {

volatile std::sig_atomic_t signalNumber = 0;

extern "C" void TakeNote(int number)
{
    signalNumber = number;
}

} // namespace

void CatchInterrupts()
{
    struct sigaction action { };
    action.sa_handler = &TakeNote;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocked read (the password prompt) returns at once.
    action.sa_flags = 0;
    for (int number : { SIGINT, SIGTERM, SIGHUP })
        sigaction(number, &action, nullptr);
}

bool InterruptRequested()
{
    return signalNumber != 0;
}

void CheckInterrupt()
{
    if (InterruptRequested())
        throw Interrupted();
}

int InterruptExitStatus()
{
    return 128 + (signalNumber ? static_cast<int>(signalNumber) : SIGINT);
}

} // namespace kiv::kivbook
