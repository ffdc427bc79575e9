// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Files.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

namespace kiv {

// Watches the named book for writes by other programs (kivbook, a sync
// tool, another copy of the program). A writer puts a new book in place by
// renaming it over the old one, which ends a watch on the file: the book's
// folder is watched as well, and the file's watch is set again. A change is
// what the writers themselves look at: the file's device and inode, size,
// modification and status change times. It is told once things settle, and
// not while a modal window is open; changed returns false when the program
// cannot look at the book now (a search holds it open): it is told again
// a moment later.
class BookWatcher : public QObject {
public:
    explicit BookWatcher(std::function<bool()> changed, QObject* parent = nullptr);

    // The book to watch from now on; empty: none.
    void Watch(const std::string& book);

    static constexpr int kSettleMilliseconds = 300;

private:
    struct Seen {
        FileIdentity identity;
        struct timespec changed { };
        bool operator==(const Seen& other) const;
    };
    static Seen Look(const std::string& book);
    void Noticed();
    void Check();

    QFileSystemWatcher watcher_;
    QTimer settle_;
    std::string book_;
    Seen seen_;
    std::function<bool()> changed_;
};

} // namespace kiv
