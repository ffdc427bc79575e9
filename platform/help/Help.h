// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

class QTextBrowser;
class QToolButton;

// The help viewer: the program's own manual, HTML pages read from disk and
// shown in a window of the program. Nothing is fetched from the network and
// no outside browser is started.
namespace kiv::help {

// The folder of the manual's pages: <prefix>/share/kiv/help beside an
// installed program, else the source tree's docs/help for a program run
// from its build folder. Empty when neither holds index.html.
QString HelpFolder();

// The page and section of a help context, relative to the help folder:
// "schedule.html#context-3". Unknown contexts lead to the contents.
QString ContextTopic(int context);

// One window that shows the manual, with back, forward and contents.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // folder: the manual's folder; empty shows where it was looked for.
    explicit HelpWindow(const QString& folder, QWidget* parent = nullptr);

    // Shows the section of the help context and brings the window forward.
    void ShowContext(int context);
    // The page and section shown now.
    QUrl Shown() const;

    QTextBrowser* Browser;
    QToolButton* BackButton;
    QToolButton* ForwardButton;
    QToolButton* ContentsButton;

private:
    // A page (and section) of the manual's folder.
    QUrl Address(const QString& topic) const;
    void Go(const QUrl& address);
    void Follow(const QUrl& link);

    QString folder_;
};

} // namespace kiv::help
