// SPDX-License-Identifier: GPL-3.0-or-later
#include "BookWatcher.h"

#include <QApplication>
#include <QFileInfo>

#include <sys/stat.h>

namespace kiv {

bool BookWatcher::Seen::operator==(const Seen& other) const
{
    return identity == other.identity && changed.tv_sec == other.changed.tv_sec
        && changed.tv_nsec == other.changed.tv_nsec;
}

BookWatcher::BookWatcher(std::function<bool()> changed, QObject* parent)
    : QObject(parent)
    , changed_(std::move(changed))
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, &BookWatcher::Check);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &BookWatcher::Noticed);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &BookWatcher::Noticed);
}

BookWatcher::Seen BookWatcher::Look(const std::string& book)
{
    Seen seen;
    seen.identity = IdentityOf(book);
    struct stat status;
    if (::stat(book.c_str(), &status) == 0)
        seen.changed = status.st_ctim;
    return seen;
}

void BookWatcher::Watch(const std::string& book)
{
    if (book == book_)
        return;
    settle_.stop();
    if (!watcher_.files().isEmpty())
        watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
    book_ = book;
    seen_ = Look(book_);
    if (book_.empty())
        return;
    const QString path = QString::fromStdString(book_);
    watcher_.addPath(QFileInfo(path).absolutePath());
    if (QFileInfo::exists(path))
        watcher_.addPath(path);
}

void BookWatcher::Noticed()
{
    settle_.start();
}

void BookWatcher::Check()
{
    if (book_.empty())
        return;
    // A question or dialog of the program's own is answered first.
    if (QApplication::activeModalWidget()) {
        settle_.start();
        return;
    }
    const QString path = QString::fromStdString(book_);
    if (!watcher_.files().contains(path) && QFileInfo::exists(path))
        watcher_.addPath(path);
    const Seen now = Look(book_);
    if (now == seen_)
        return;
    if (!changed_()) {
        settle_.start();
        return;
    }
    seen_ = now;
}

} // namespace kiv
