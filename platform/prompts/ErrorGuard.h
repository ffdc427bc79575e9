// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Prompts.h"

#include <functional>
#include <string>

namespace kiv {

// Text of the general error report for an error text: a full stop is
// appended when the last character sorts after ".".
std::string ErrorReportText(const std::string& text);

// Shows the general error report for an error text, for an error that a
// command reports and then carries on after.
void ShowErrorReport(Prompts& prompts, const std::string& text);

// Runs one event handler's body. An error that escapes it ends the command
// and is shown in the general error report (caption: the application title);
// no exception ever reaches the event loop. Returns false when an error
// ended the body.
bool Guarded(Prompts& prompts, const std::function<void()>& body);

} // namespace kiv
