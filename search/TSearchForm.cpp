// SPDX-License-Identifier: GPL-3.0-or-later
#include "TSearchForm.h"

#include "BookSearch.h"
#include "ErrorGuard.h"
#include "Fonts.h"
#include "FormHost.h"
#include "ListDate.h"
#include "SearchHost.h"
#include "TextBorder.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBlock>

namespace kiv {

namespace {

// How often a running search brings the window up to date: often enough
// for a smooth progress bar and a window that answers at once.
constexpr std::chrono::milliseconds kUpdateInterval{30};

template <typename Control>
Control* Place(Control* control, int left, int top, int width, int height, const char* hint)
{
    control->setGeometry(left, top, width, height);
    if (hint)
        control->setStatusTip(QString::fromUtf8(hint));
    return control;
}

} // namespace

TSearchForm::TSearchForm(SearchHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName(kWindowName);
    setWindowTitle(QStringLiteral("キーワードで探す"));
    setFont(FormFont());

    Label1 = Place(new QLabel(QStringLiteral("探し出すキーワード："), this), 8, 8, 106, 12, nullptr);
    Label2 = Place(new QLabel(QStringLiteral("探し出した日付："), this), 192, 8, 83, 12, nullptr);
    Edit1 = Place(new QLineEdit(this), 24, 24, 145, 20, "１つ目のキーワード");
    Edit2 = Place(new QLineEdit(this), 24, 56, 145, 20, "２つ目のキーワード");
    Edit3 = Place(new QLineEdit(this), 24, 88, 145, 20, "３つ目のキーワード");
    Memo1 = Place(new QPlainTextEdit(this), 208, 24, 121, 89,
                  "キーワードで検索した結果の日付をここに表示します。内容を表示するに日付の上でマウスの右ボタンを押してく"
                  "ださい。");
    StartBitBtn = Place(new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("開始"), this),
                        344, 32, 75, 25, "検索を開始します");
    CloseBitBtn
        = Place(new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("閉じる"), this),
                344, 80, 75, 25, "フォームを閉じます");
    ProgressBar1 = Place(new QProgressBar(this), 24, 136, 305, 25, "検索過程の表示");

    Edit2->setEnabled(false);
    Edit3->setEnabled(false);
    for (QLineEdit* edit : {Edit1, Edit2, Edit3})
        FilterInput(edit, host_.formHost());

    Memo1->setReadOnly(true);
    Memo1->setFont(FormFont(15));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The result lines are short and only ever added: without wrapping and
    // undo steps the list takes tens of thousands of them quickly.
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setUndoRedoEnabled(false);
    Memo1->setContextMenuPolicy(Qt::NoContextMenu);
    Memo1->viewport()->installEventFilter(this);

    StartBitBtn->setDefault(true);
    StartBitBtn->setAutoDefault(true);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    PopupMenu1 = new QMenu(this);
    Show1 = PopupMenu1->addAction(QStringLiteral("表示"));

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Memo1);
    setTabOrder(Memo1, StartBitBtn);
    setTabOrder(StartBitBtn, CloseBitBtn);
    setTabOrder(CloseBitBtn, ProgressBar1);

    auto guarded = [this](void (TSearchForm::*handler)()) {
        return [this, handler] { Guarded(host_.formHost().prompts(), [&] { (this->*handler)(); }); };
    };
    connect(Edit1, &QLineEdit::textChanged, this, guarded(&TSearchForm::Edit1Change));
    connect(Edit2, &QLineEdit::textChanged, this, guarded(&TSearchForm::Edit2Change));
    connect(Edit1, &QLineEdit::returnPressed, StartBitBtn, &QPushButton::click);
    connect(Edit2, &QLineEdit::returnPressed, StartBitBtn, &QPushButton::click);
    connect(Edit3, &QLineEdit::returnPressed, StartBitBtn, &QPushButton::click);
    connect(StartBitBtn, &QPushButton::clicked, this, [this] { StartBitBtnClick(); });
    connect(CloseBitBtn, &QPushButton::clicked, this, [this] { CloseBitBtnClick(); });
    connect(Show1, &QAction::triggered, this, [this] { Show1Click(); });
}

// A keyword field is usable only while the field above it holds text;
// emptying a field empties the one below, whose own change goes on down.
void TSearchForm::FollowField(QLineEdit* above, QLineEdit* below)
{
    if (!above->text().isEmpty()) {
        below->setEnabled(true);
    } else {
        below->setText(QString());
        below->setEnabled(false);
    }
}

void TSearchForm::Edit1Change() { FollowField(Edit1, Edit2); }

void TSearchForm::Edit2Change() { FollowField(Edit2, Edit3); }

void TSearchForm::StartBitBtnClick()
{
    if (searching_)
        return;
    Guarded(host_.formHost().prompts(), [&] { Search(); });
}

void TSearchForm::Search()
{
    Prompts& prompts = host_.formHost().prompts();
    if (Edit1->text().isEmpty()) {
        ShowPlain(prompts, "キーワードが書き込まれていないと、検索できません。", true);
        return;
    }
    ProgressBar1->setMinimum(0);
    ProgressBar1->setValue(0);
    hits_ = 0;
    Memo1->clear();

    const std::string book = host_.BookFileName();
    const std::string first = RecordText(Edit1->text());
    const std::string second = RecordText(Edit2->text());
    const std::string third = RecordText(Edit3->text());
    searched_ = KeywordCriteria(first, second, third);

    // While the loop runs, the user may type, click and close other
    // windows; this window's own commands wait until it has ended.
    searching_ = true;
    stopRequested_ = false;
    StartBitBtn->setEnabled(false);
    CloseBitBtn->setEnabled(false);
    struct Restore {
        TSearchForm* form;
        ~Restore()
        {
            form->searching_ = false;
            form->StartBitBtn->setEnabled(true);
            form->CloseBitBtn->setEnabled(true);
            // What waited for the loop to end runs from the event loop, not
            // from inside this search.
            for (std::function<void()>& action : form->afterStop_)
                QMetaObject::invokeMethod(qApp, std::move(action), Qt::QueuedConnection);
            form->afterStop_.clear();
        }
    } restore{this};

    // Updating the window and handling events after every day would take
    // most of a search's time; they wait for the clock instead. Whatever way
    // the loop ends, the lines found so far are listed and the bar shows the
    // days read.
    class Observer : public SearchObserver {
    public:
        explicit Observer(TSearchForm& form) : form_(form) {}
        ~Observer() override { Show(); }

        void Started(std::size_t total) override
        {
            total_ = total;
            form_.ProgressBar1->setMaximum(static_cast<int>(total));
        }
        void Hit(const std::string& line) override
        {
            found_ += QString::fromStdString(line) + QLatin1Char('\n');
            ++form_.hits_;
        }
        bool DayDone(std::size_t done) override
        {
            done_ = done;
            const std::chrono::steady_clock::time_point now = form_.clock_();
            if (done == 1 || done == total_ || now - shown_ >= kUpdateInterval) {
                shown_ = now;
                Show();
                QCoreApplication::processEvents();
            }
            return !form_.stopRequested_;
        }

    private:
        void Show()
        {
            if (!found_.isEmpty()) {
                QTextCursor cursor(form_.Memo1->document());
                cursor.movePosition(QTextCursor::End);
                cursor.insertText(found_);
                found_.clear();
            }
            form_.ProgressBar1->setValue(static_cast<int>(done_));
        }

        TSearchForm& form_;
        std::size_t total_ = 0;
        std::size_t done_ = 0;
        QString found_;
        std::chrono::steady_clock::time_point shown_;
    };

    SearchEnd end;
    {
        Observer observer(*this);
        end = SearchBook(book, first, second, third, observer);
    }
    switch (end) {
    case SearchEnd::Completed:
        ShowPlain(prompts, "検索が終わりました。\r\n\r\n" + std::to_string(hits_) + "件ヒットしました。", true);
        break;
    case SearchEnd::ExtractFailed:
        ShowPlain(prompts, book + "の検索に失敗しました。", true);
        break;
    case SearchEnd::Stopped:
        break;
    }
}

void TSearchForm::RequestStop(std::function<void()> afterwards)
{
    stopRequested_ = true;
    if (afterwards)
        afterStop_.push_back(std::move(afterwards));
}

void TSearchForm::Memo1MouseDown(const QPoint& position)
{
    const QTextBlock line = Memo1->cursorForPosition(position).block();
    QTextCursor selection(line);
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    Memo1->setTextCursor(selection);
}

bool TSearchForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Memo1->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        Guarded(host_.formHost().prompts(), [&] { Memo1MouseDown(press->position().toPoint()); });
        Memo1->setFocus(Qt::MouseFocusReason);
        if (press->button() == Qt::RightButton)
            PopupMenu1->popup(press->globalPosition().toPoint());
        return true;
    }
    // A double click on a result shows its day, as 表示 in the menu does.
    if (watched == Memo1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        auto* click = static_cast<QMouseEvent*>(event);
        if (click->button() == Qt::LeftButton) {
            Guarded(host_.formHost().prompts(), [&] { Memo1MouseDown(click->position().toPoint()); });
            if (Memo1->textCursor().hasSelection())
                Show1Click();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ShowFoundDay(SearchHost& host, const QString& line, const SearchCriteria& searched)
{
    Guarded(host.formHost().prompts(), [&] {
        FormHost& form = host.formHost();
        if (form.Modified()) {
            if (Ask(form.prompts(), "日記は変更されていますが、変更を保存しますか？", Buttons::YesNo, true) == Answer::Yes)
                return;
            form.ClearEditors();
            form.SetModified(false);
        }
        const QDate date = ListDate(line);
        host.SelectCalendarDate(date);
        form.ChangeDate();
        host.ShowHits(searched);
    });
}

void TSearchForm::Show1Click()
{
    ShowFoundDay(host_, Memo1->textCursor().selectedText(), searched_);
}

void TSearchForm::CloseBitBtnClick()
{
    if (searching_)
        return;
    // In the frame, the child window closes around the form.
    if (auto* window = qobject_cast<QMdiSubWindow*>(parentWidget()))
        window->close();
    else
        close();
}

void TSearchForm::closeEvent(QCloseEvent* event)
{
    if (searching_) {
        event->ignore();
        return;
    }
    emit closed();
    QWidget::closeEvent(event);
}

} // namespace kiv
