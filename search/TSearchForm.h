// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeywordTest.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kiv {

class SearchHost;

// The keyword search window: finds the days of the open book whose texts
// hold up to three keywords and lists their dates; "表示" on a listed date
// shows that day.
//
// While a search runs, the progress bar, the lines found and pending window
// messages are brought up to date after the first day, then every 30 ms by
// the window's clock, and after the last day. Meanwhile Start and Close are
// disabled and the window refuses to close; RequestStop ends the loop after
// the day being read, so that the book or the program can be closed once it
// has ended.
class TSearchForm : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kWindowName = "SearchForm";
    static constexpr int kHelpContext = 41;

    explicit TSearchForm(SearchHost& host, QWidget* parent = nullptr);

    QLabel *Label1, *Label2;
    QLineEdit *Edit1, *Edit2, *Edit3;
    QPlainTextEdit* Memo1;
    QPushButton *StartBitBtn, *CloseBitBtn;
    QProgressBar* ProgressBar1;
    QMenu* PopupMenu1;
    QAction* Show1;

    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // The clock that paces a search's updates (tests set their own).
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    bool Searching() const { return searching_; }
    // Ends a running search after the day being read; `afterwards` then runs
    // once the loop has ended (queued, from the event loop).
    void RequestStop(std::function<void()> afterwards = {});

    // The handlers, public so that tests can replay the user's actions.
    void StartBitBtnClick();
    void Show1Click();
    void CloseBitBtnClick();
    // Selects the whole line under the point (client coordinates of Memo1).
    void Memo1MouseDown(const QPoint& position);

signals:
    // The window is closing (and will be destroyed).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Edit1Change();
    void Edit2Change();
    static void FollowField(QLineEdit* above, QLineEdit* below);
    void Search();

    SearchHost& host_;
    Clock clock_ = &std::chrono::steady_clock::now;
    bool searching_ = false;
    bool stopRequested_ = false;
    std::vector<std::function<void()>> afterStop_;
    int hits_ = 0;
    SearchCriteria searched_; // the keywords of the last search, marked in a day shown
};

// Shows the day of a result line (yyyy/mm/dd) and marks the hits of the
// search in it. A modified day is kept when the user wants to save it first
// (the day is then not shown); otherwise its edits are dropped.
void ShowFoundDay(SearchHost& host, const QString& line, const SearchCriteria& searched);

} // namespace kiv
