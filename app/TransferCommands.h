// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Prompts.h"

namespace kiv {

class BookCommands;
class Workspace;

// ファイル → 書き出し… and 取り込み…: the open book as one file (JSON with
// every field and picture, a calendar of the schedule, a PDF), and the days
// of another diary, a calendar or an export taken into the book without
// losing what it holds. They run kivbook's export and import, with a file
// dialog and a summary message. Each runs inside one event handler's error
// guard.
class TransferCommands {
public:
    TransferCommands(Workspace& workspace, BookCommands& books);

    void Export();
    void Import();

private:
    // False, with a message, when no book is named.
    bool RequireBook();

    Workspace& workspace_;
    BookCommands& books_;
    FileDialog exportDialog_;
    FileDialog importDialog_;
};

} // namespace kiv
