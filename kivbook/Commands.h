// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Arguments.h"
#include "BookSession.h"
#include "Dates.h"

#include <iosfwd>

namespace kiv::kivbook {

class ConsolePrompts;

// What a command works with: its parsed words, standard output, and the
// console prompts (standard error).
struct CommandContext {
    const Arguments& arguments;
    std::ostream& out;
    ConsolePrompts& prompts;
};

// The date given on the command line; a UsageError when it is none.
Date DateArgument(const std::string& text);
// The session of a command whose first positional is the book: the book
// and the password file.
SessionSettings SettingsFor(const CommandContext& context);

// Each returns the exit status (0, or 1 when the archive layer reported a
// failure); a problem found by the command itself is a Failure, wrong use a
// UsageError.
int ListCommand(CommandContext& context);
int ShowCommand(CommandContext& context);
int SearchCommand(CommandContext& context);
int TagsCommand(CommandContext& context);
int CheckCommand(CommandContext& context);
int PutCommand(CommandContext& context);
int DeleteCommand(CommandContext& context);
int RepairCommand(CommandContext& context);
int ExportCommand(CommandContext& context);
int ImportCommand(CommandContext& context);
int HolidaysCommand(CommandContext& context);
int YearsCommand(CommandContext& context);
int MergeCommand(CommandContext& context);

} // namespace kiv::kivbook
