// SPDX-License-Identifier: GPL-3.0-or-later
// The monkey: the whole program, offscreen, fed random but plausible input
// for a fixed time. Keys (Japanese text included), pastes and drops of every
// kind, clicks and double clicks in every window, menu commands, date
// changes, saves, books opened, closed and repaired, searches; every
// question, file dialog and password dialog answered at random through the
// prompts seam. After each save the books it wrote must read clean and hold
// every day saved into them as it was typed.
//
//   kiv_monkey [--seed N] [--seconds S] [--steps N] [--trace]
//
// The seed is printed first; the same seed replays the same run. --steps
// ends the run after that many steps if the time has not ended it first, so
// that a run of a fixed seed does the same on a fast machine. A broken
// invariant prints the seed, the step and the steps before it and aborts;
// --trace prints every step as it is taken (for a crash, which leaves no
// such list).
#include "Archive.h"
#include "Cp932.h"
#include "MemoryStream.h"
#include "Program.h"
#include "Prompts.h"
#include "TCalendarForm.h"
#include "TDayBook.h"
#include "TDiaryForm.h"
#include "TPictureForm.h"
#include "TScheduleForm.h"
#include "TSearchForm.h"
#include "TextBorder.h"
#include "Workspace.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace kiv;

namespace {

// The texts of a day as the editors show it, in the record's code page.
struct DayTexts {
    std::string diary, weather, temperature, memo;
    std::vector<std::string> schedule;
    bool operator==(const DayTexts&) const = default;
    bool Empty() const
    {
        for (const std::string& entry : schedule)
            if (!entry.empty())
                return false;
        return diary.empty() && weather.empty() && temperature.empty() && memo.empty();
    }
};

DayTexts RecordTexts(const TDayBook& day)
{
    DayTexts texts { day.Diary, day.Weather, day.Temperature, day.ScheduleMemo, {} };
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        texts.schedule.push_back(day.Schedule(row));
    return texts;
}

// The fields in which two days differ: the book's text, then the saved one.
std::string Differences(const DayTexts& held, const DayTexts& saved)
{
    std::string out;
    auto field = [&](const char* name, const std::string& a, const std::string& b) {
        if (a != b)
            out += std::string("    ") + name + ": \"" + Utf8FromCp932(a.substr(0, 80)) + "\" in the book, \""
                + Utf8FromCp932(b.substr(0, 80)) + "\" saved\n";
    };
    field("diary", held.diary, saved.diary);
    field("weather", held.weather, saved.weather);
    field("temperature", held.temperature, saved.temperature);
    field("memo", held.memo, saved.memo);
    for (std::size_t row = 0; row < held.schedule.size() && row < saved.schedule.size(); ++row)
        field("schedule", held.schedule[row], saved.schedule[row]);
    return out;
}

const char* const kPassword = "kiv";
const char* const kSaveQuestion = "変更された日記を保存しますか？";
const char* const kCloseQuestion = "日記が変更されています。\r\n変更を保存しますか？";
const char* const kExitQuestion = "日記は書き換えられています。保存しますか？";
const char* const kDeleteQuestion = "本当に削除してもいいですか？";

class Monkey;

// Answers every prompt at random, and tells the monkey what was asked.
class MonkeyPrompts : public Prompts {
public:
    explicit MonkeyPrompts(Monkey& monkey) : monkey_(monkey) { }
    void Beep() override { }
    Answer Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons) override;
    bool OpenFile(FileDialog& dialog) override;
    bool SaveFile(FileDialog& dialog) override;
    bool RunModal(QDialog& dialog) override;
    // No other writer holds the monkey's books: a wait ends at once, or
    // gives up after a moment.
    bool WaitWhile(const std::string&, const std::function<bool()>& busy) override
    {
        for (int tries = 0; tries < 100 && busy(); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return !busy();
    }

    // While the books are checked, every password dialog gets the password.
    bool checking = false;

private:
    Monkey& monkey_;
};

class Monkey {
public:
    Monkey(std::uint64_t seed, int seconds, long steps, bool trace)
        : seed_(seed), seconds_(seconds), steps_(steps), trace_(trace), rng_(seed), prompts_(*this)
    {
    }

    int Run();

    // The prompts' side.
    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(rng_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    Answer Answered(Icon icon, const std::string& text, Buttons buttons);
    std::optional<std::string> ChooseFile(const FileDialog& dialog, bool save);
    bool Password(QDialog& dialog);

private:
    struct Step {
        const char* name;
        int weight;
        void (Monkey::*run)();
    };

    // The steps.
    void TypeText();
    void PressKey();
    void PasteSomething();
    void DropSomething();
    void Click();
    void ChangeDate();
    void PickFromDateList();
    void MenuCommand();
    void Save();
    void SaveAs();
    void TogglePassword();
    void Search();

    // Editors and windows.
    QWidget* SomeEditor();
    QWidget* SomeWindow();
    QMimeData* SomeData();
    std::string Book() const { return program_->MainForm().workspace().BookFileName(); }
    Workspace& Ws() { return program_->MainForm().workspace(); }
    DayTexts EditorTexts();

    // Invariants.
    // A day about to be saved into book: recorded once the step ends cleanly.
    void Expect(const std::string& book);
    void SettleStep();
    void CheckBook(const std::string& book);
    [[noreturn]] void Fail(const std::string& what);
    void Log(const std::string& line);

    std::uint64_t seed_;
    int seconds_;
    long steps_;
    bool trace_;
    std::mt19937_64 rng_;
    MonkeyPrompts prompts_;
    QTemporaryDir root_;
    std::vector<std::string> books_, pictures_, others_;
    TDayBook record_;
    std::unique_ptr<Program> program_;
    long step_ = 0;
    std::deque<std::string> log_;

    // What the books must hold: book -> date member -> texts.
    std::map<std::string, std::map<std::string, DayTexts>> expected_;
    struct Pending {
        std::string book;
        std::string member;
        DayTexts texts;
        bool known;
    };
    std::vector<Pending> pending_;
    bool stepUnclean_ = false; // an error, a cancel or a refusal in this step
    std::optional<std::size_t> awaitingBook_; // the pending save whose book a save dialog names
    std::vector<std::string> touched_;
};

Answer MonkeyPrompts::Message(Icon icon, const std::string&, const std::string& text, Buttons buttons)
{
    return monkey_.Answered(icon, text, buttons);
}

bool MonkeyPrompts::OpenFile(FileDialog& dialog)
{
    const std::optional<std::string> file = monkey_.ChooseFile(dialog, false);
    if (file)
        dialog.fileName = *file;
    return file.has_value();
}

bool MonkeyPrompts::SaveFile(FileDialog& dialog)
{
    const std::optional<std::string> file = monkey_.ChooseFile(dialog, true);
    if (file)
        dialog.fileName = *file;
    return file.has_value();
}

bool MonkeyPrompts::RunModal(QDialog& dialog)
{
    if (checking) {
        if (auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("Password")))
            password->setText(kPassword);
        return true;
    }
    return monkey_.Password(dialog);
}

Answer Monkey::Answered(Icon icon, const std::string& text, Buttons buttons)
{
    if (prompts_.checking)
        Fail("a message while the books were checked: " + text);
    if (icon == Icon::Error)
        stepUnclean_ = true;
    Answer answer = Answer::Ok;
    switch (buttons) {
    case Buttons::Ok:
        break;
    case Buttons::YesNo:
    case Buttons::YesNoDefaultNo:
        answer = Chance(0.6) ? Answer::Yes : Answer::No;
        break;
    case Buttons::YesNoCancel: {
        const int pick = Pick(10);
        answer = pick < 6 ? Answer::Yes : pick < 8 ? Answer::No : Answer::Cancel;
        break;
    }
    }
    QString shown = QString::fromStdString(text).left(30);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    Log("  asked: " + shown.toStdString()
        + (answer == Answer::Yes ? " -> yes" : answer == Answer::No ? " -> no" : answer == Answer::Cancel ? " -> cancel" : ""));
    const bool saveQuestion = text == kSaveQuestion || text == kCloseQuestion || text == kExitQuestion;
    if (saveQuestion && answer == Answer::Yes) {
        // Where the day goes: the book named now, or the one the save
        // dialog after a close question names.
        Expect(text == kSaveQuestion ? Book() : std::string());
        if (text != kSaveQuestion)
            awaitingBook_ = pending_.size() - 1;
    } else if (text == kDeleteQuestion && answer == Answer::Yes) {
        pending_.push_back({ Book(), archive::MemberName(Ws().DayFilePath(Ws().Date())), {}, false });
    } else if (!saveQuestion && answer != Answer::Yes && answer != Answer::Ok) {
        stepUnclean_ = true;
    }
    return answer;
}

std::optional<std::string> Monkey::ChooseFile(const FileDialog& dialog, bool save)
{
    if (prompts_.checking)
        Fail("a file dialog while the books were checked");
    if (Chance(0.1)) {
        stepUnclean_ = true;
        return std::nullopt;
    }
    const bool picture = dialog.filter.find(".bmp") != std::string::npos || dialog.filter.find(".BMP") != std::string::npos
        || dialog.filter.find("jpg") != std::string::npos || dialog.filter.find("JPG") != std::string::npos;
    std::string file;
    if (picture)
        file = save ? others_[Pick(int(others_.size()))] : pictures_[Pick(int(pictures_.size()))];
    else if (save)
        file = books_[Pick(int(books_.size()))];
    else
        file = Chance(0.8) ? books_[Pick(int(books_.size()))] : others_[Pick(int(others_.size()))];
    Log("  file: " + file);
    if (save && !picture && awaitingBook_) {
        pending_[*awaitingBook_].book = file;
        awaitingBook_.reset();
    }
    return file;
}

bool Monkey::Password(QDialog& dialog)
{
    auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("Password"));
    if (!password)
        return true; // the version window
    if (Chance(0.12)) {
        Log("  password dialog cancelled");
        stepUnclean_ = true;
        return false;
    }
    password->setText(kPassword);
    return true;
}

void Monkey::Log(const std::string& line)
{
    if (trace_) {
        std::fprintf(stderr, "%ld %s\n", step_, line.c_str());
        std::fflush(stderr);
    }
    log_.push_back(line);
    if (log_.size() > 400)
        log_.pop_front();
}

void Monkey::Fail(const std::string& what)
{
    std::fprintf(stderr, "\nkiv_monkey: FAILED at step %ld (seed %llu): %s\nThe steps before it:\n", step_,
                 static_cast<unsigned long long>(seed_), what.c_str());
    for (const std::string& line : log_)
        std::fprintf(stderr, "  %s\n", line.c_str());
    std::fflush(stderr);
    std::abort();
}

DayTexts Monkey::EditorTexts()
{
    // As the save will store them: the editors' texts in the record's code page.
    DayTexts texts;
    TDiaryForm& diary = program_->DiaryForm();
    TScheduleForm& schedule = program_->ScheduleForm();
    texts.diary = RecordText(diary.DayBookMemo->toPlainText());
    texts.weather = RecordText(diary.WeatherEdit->text());
    texts.temperature = RecordText(diary.TemperatureEdit->text());
    texts.memo = RecordText(schedule.ScheduleMemo->toPlainText());
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        texts.schedule.push_back(RecordText(schedule.Cell(1, row)));
    return texts;
}

void Monkey::Expect(const std::string& book)
{
    // A day shown after a failed read has nothing of the book's; what a save
    // makes of it is not known in advance.
    const bool known = !Ws().DayUnreadable();
    pending_.push_back({ book, archive::MemberName(Ws().DayFilePath(Ws().Date())), EditorTexts(), known });
}

void Monkey::SettleStep()
{
    for (const Pending& pending : pending_) {
        if (pending.book.empty())
            continue;
        auto& days = expected_[pending.book];
        // Only a step that ran to its end without an error, a cancel or a
        // refusal says what the book holds now; else the day is not looked at.
        if (pending.known && !stepUnclean_ && !pending.texts.Empty()) {
            days[pending.member] = pending.texts;
            Log("  expect " + pending.member + " in " + pending.book);
        } else {
            days.erase(pending.member);
            Log("  no longer sure of " + pending.member + " in " + pending.book);
        }
        touched_.push_back(pending.book);
    }
    const bool clean = !stepUnclean_;
    pending_.clear();
    awaitingBook_.reset();
    stepUnclean_ = false;
    if (clean)
        for (const std::string& book : touched_)
            CheckBook(book);
    touched_.clear();
}

void Monkey::CheckBook(const std::string& book)
{
    if (!QFile::exists(QString::fromStdString(book)))
        return;
    prompts_.checking = true;
    std::string list;
    archive::ListDays(book, list);
    std::map<std::string, DayTexts> held;
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = list.find("\r\n", start);
        const std::string member = list.substr(start, end - start);
        start = end + 2;
        MemoryStream stream;
        if (!archive::ExtractDay(book, member, stream))
            Fail(book + ": day " + member + " does not extract");
        stream.SetPosition(0);
        TDayBook day;
        try {
            day.Read(stream);
        } catch (const std::exception& error) {
            Fail(book + ": day " + member + " does not read: " + error.what());
        }
        held[member] = RecordTexts(day);
    }
    prompts_.checking = false;
    for (const auto& [member, texts] : expected_[book]) {
        const auto found = held.find(member);
        if (found == held.end())
            Fail(book + ": the saved day " + member + " is missing");
        if (found->second != texts)
            Fail(book + ": the saved day " + member + " holds other texts than were saved:\n" + Differences(found->second, texts));
    }
    Log("  checked " + book + ": " + std::to_string(held.size()) + " days, "
        + std::to_string(expected_[book].size()) + " expected");
}

QWidget* Monkey::SomeEditor()
{
    TDiaryForm& diary = program_->DiaryForm();
    TScheduleForm& schedule = program_->ScheduleForm();
    std::vector<QWidget*> editors { diary.DayBookMemo, diary.WeatherEdit, diary.TemperatureEdit, schedule.ScheduleMemo };
    if (TSearchForm* search = program_->MainForm().SearchForm())
        editors.push_back(search->Edit1);
    const int pick = Pick(int(editors.size()) + 1);
    if (pick < int(editors.size()))
        return editors[pick];
    // A cell of the schedule, in its editor when one opens.
    QTableWidget* grid = schedule.ScheduleStringGrid;
    grid->setFocus();
    grid->setCurrentCell(1 + Pick(TDayBook::kScheduleRows), 1);
    QTest::keyClick(grid, Qt::Key_F2);
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus : grid;
}

QWidget* Monkey::SomeWindow()
{
    std::vector<QWidget*> windows { &program_->MainForm(), &program_->DiaryForm(), &program_->ScheduleForm(),
        &program_->PictureForm(), &program_->CalendarForm() };
    if (TSearchForm* search = program_->MainForm().SearchForm())
        windows.push_back(search);
    return windows[Pick(int(windows.size()))];
}

QMimeData* Monkey::SomeData()
{
    static const char* const texts[] = { "晴れ", "今日は雨でした。\n明日は晴れ", "𠮷野家😀", "①Ⅱ髙﨑", "ｶﾀｶﾅ", "abc\r\ndef", "€" };
    auto* data = new QMimeData;
    switch (Pick(8)) {
    case 0:
        break; // nothing
    case 1:
        data->setText(QString::fromUtf8(texts[Pick(std::size(texts))]));
        break;
    case 2:
        data->setHtml("<p><b>太字</b>と<img src=\"x.png\">絵😀</p>");
        break;
    case 3: {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::green);
        data->setImageData(image);
        break;
    }
    case 4:
        data->setUrls({ QUrl::fromLocalFile(QString::fromStdString(pictures_[0])), QUrl("https://example.com/日記") });
        break;
    case 5: {
        // A long text, now and then a very long one, in lines (a single
        // line of megabytes takes Qt's text layout minutes).
        const QString line = QString(79, QChar(u'あ' + Pick(80))) + QChar('\n');
        data->setText(line.repeated(Chance(0.1) ? 10 * 1024 * 1024 / 80 : 10 + Pick(1200)));
        break;
    }
    case 6:
        data->setData("application/octet-stream", QByteArray(64, '\1'));
        break;
    default:
        data->setText(QString::fromUtf8(texts[Pick(std::size(texts))]));
        data->setHtml("<i>斜体</i>");
        break;
    }
    return data;
}

void Monkey::TypeText()
{
    static const char* const words[] = { "今日", "は", "晴れ", "日記", "テスト", "ｶﾅ", "①", "髙", "😀", "𠮷", " ", "\n", "abc" };
    QWidget* editor = SomeEditor();
    editor->setFocus();
    const QString word = QString::fromUtf8(words[Pick(std::size(words))]);
    Log("type into " + editor->objectName().toStdString() + ": " + word.toStdString());
    bool ascii = true;
    for (QChar c : word)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    if (!ascii || Chance(0.5)) {
        // Through the input method, with a pre-edit first now and then.
        if (Chance(0.3)) {
            QInputMethodEvent composing(word, {});
            QApplication::sendEvent(editor, &composing);
        }
        QInputMethodEvent commit;
        commit.setCommitString(word);
        QApplication::sendEvent(editor, &commit);
    } else {
        QTest::keyClicks(editor, word);
    }
}

void Monkey::PressKey()
{
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    static const Key keys[] = { { Qt::Key_Backspace, {} }, { Qt::Key_Delete, {} }, { Qt::Key_Return, {} },
        { Qt::Key_Tab, {} }, { Qt::Key_Backtab, Qt::ShiftModifier }, { Qt::Key_Left, {} }, { Qt::Key_Right, {} },
        { Qt::Key_Up, {} }, { Qt::Key_Down, {} }, { Qt::Key_Home, {} }, { Qt::Key_End, Qt::ControlModifier },
        { Qt::Key_PageDown, {} }, { Qt::Key_A, Qt::ControlModifier }, { Qt::Key_Z, Qt::ControlModifier },
        { Qt::Key_Y, Qt::ControlModifier }, { Qt::Key_C, Qt::ControlModifier }, { Qt::Key_X, Qt::ControlModifier },
        { Qt::Key_V, Qt::ControlModifier }, { Qt::Key_Insert, Qt::ShiftModifier }, { Qt::Key_F2, {} },
        { Qt::Key_Escape, {} }, { Qt::Key_Space, {} }, { Qt::Key_A, {} } };
    const Key& key = keys[Pick(std::size(keys))];
    QWidget* target = Chance(0.5) && QApplication::focusWidget() ? QApplication::focusWidget() : SomeEditor();
    Log("key " + std::to_string(key.key) + " in " + target->objectName().toStdString());
    QTest::keyClick(target, key.key, key.modifiers);
}

void Monkey::PasteSomething()
{
    QWidget* editor = SomeEditor();
    editor->setFocus();
    const bool middle = Chance(0.4);
    QApplication::clipboard()->setMimeData(SomeData(), middle ? QClipboard::Selection : QClipboard::Clipboard);
    if (Chance(0.1))
        QApplication::clipboard()->clear(middle ? QClipboard::Selection : QClipboard::Clipboard);
    Log(std::string(middle ? "middle click" : "paste") + " into " + editor->objectName().toStdString());
    if (middle) {
        auto* memo = qobject_cast<QPlainTextEdit*>(editor);
        QWidget* surface = memo ? memo->viewport() : editor;
        QTest::mouseClick(surface, Qt::MiddleButton, {}, QPoint(Pick(surface->width() + 1), Pick(surface->height() + 1)));
    } else {
        QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    }
}

void Monkey::DropSomething()
{
    QWidget* editor = SomeEditor();
    auto* memo = qobject_cast<QPlainTextEdit*>(editor);
    QWidget* surface = memo ? memo->viewport() : editor;
    std::unique_ptr<QMimeData> data(SomeData());
    const QPoint at(Pick(surface->width() + 1), Pick(surface->height() + 1));
    Log("drop on " + editor->objectName().toStdString() + (surface->isVisible() ? "" : " (hidden)") + " ("
        + data->formats().join(',').toStdString() + ")");
    const Qt::DropActions actions = Chance(0.5) ? Qt::CopyAction : Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, actions, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(surface, &enter);
    for (int move = Pick(4); move > 0; --move) {
        QDragMoveEvent moving(QPoint(Pick(surface->width() + 1), Pick(surface->height() + 1)), actions, data.get(),
                              Qt::LeftButton, {});
        QApplication::sendEvent(surface, &moving);
    }
    if (Chance(0.2)) {
        QDragLeaveEvent leave;
        QApplication::sendEvent(surface, &leave);
        return;
    }
    QDropEvent drop(at, actions, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(surface, &drop);
}

void Monkey::Click()
{
    QWidget* window = SomeWindow();
    // The deepest widget under a random point of the window.
    const QPoint at(Pick(std::max(1, window->width())), Pick(std::max(1, window->height())));
    QWidget* target = window->childAt(at);
    if (!target)
        target = window;
    const QPoint local = target->mapFrom(window, at);
    const bool twice = Chance(0.3);
    const Qt::MouseButton button = Chance(0.85) ? Qt::LeftButton : Qt::MiddleButton;
    Log(std::string(twice ? "double click " : "click ") + (button == Qt::MiddleButton ? "(middle) " : "")
        + target->metaObject()->className() + " " + target->objectName().toStdString() + " in "
        + window->objectName().toStdString());
    if (twice)
        QTest::mouseDClick(target, button, {}, local);
    else
        QTest::mouseClick(target, button, {}, local);
}

void Monkey::ChangeDate()
{
    // A few weeks of dates, so that days come back.
    const QDate date = QDate(2001, 5, 1).addDays(Pick(20));
    Log("choose " + date.toString(Qt::ISODate).toStdString());
    TCalendarForm& calendar = program_->CalendarForm();
    calendar.SetSelectedDate(date);
    emit calendar.MonthCalendar1->clicked(date); // as a click of the user's, through the window's guard
}

void Monkey::PickFromDateList()
{
    QComboBox* list = program_->CalendarForm().DiaryComboBox;
    if (list->count() == 0)
        return;
    const int index = Pick(list->count());
    Log("pick " + list->itemText(index).toStdString() + " from the date list");
    list->setCurrentIndex(index);
    emit list->activated(index); // as a choice of the user's, through the window's guard
}

void Monkey::MenuCommand()
{
    TMainForm& main = program_->MainForm();
    // Exit ends the program; it is left out.
    QAction* const commands[] = { main.Open1, main.Save1, main.SaveAs1, main.Close1, main.DeleteDayBook, main.Find1,
        main.ArchiveRepair, main.TraditionalEncryption1, main.Aes256Encryption1, main.Cascade1, main.Tile1,
        main.ArrangeIcons1, main.ScheduleTop, main.DiaryTop, main.PictureTop, main.FindMenu, main.CalendarFormShow,
        main.PictureInsert, main.PictureSave, main.PictureDelete, main.About1 };
    QAction* command = commands[Pick(std::size(commands))];
    if (!command->isEnabled())
        return;
    if (command == main.Save1)
        return Save();
    if (command == main.SaveAs1)
        return SaveAs();
    Log("menu " + command->text().toStdString());
    command->trigger();
}

void Monkey::Save()
{
    Log("save " + Book() + " on " + Ws().Date().toString(Qt::ISODate).toStdString());
    if (!Book().empty())
        Expect(Book());
    program_->MainForm().Save1->trigger();
}

void Monkey::SaveAs()
{
    Log("save as");
    Expect(std::string());
    awaitingBook_ = pending_.size() - 1;
    program_->MainForm().SaveAs1->trigger();
}

void Monkey::TogglePassword()
{
    QCheckBox* box = program_->CalendarForm().PassWordCheckBox;
    Log(box->isChecked() ? "untick the password box" : "tick the password box");
    box->click();
}

void Monkey::Search()
{
    TMainForm& main = program_->MainForm();
    if (!main.SearchForm())
        main.Find1->trigger();
    TSearchForm* search = main.SearchForm();
    if (!search)
        return;
    static const char* const words[] = { "晴れ", "日記", "a", "あ", "ｶﾅ" };
    search->Edit1->setText(QString::fromUtf8(words[Pick(std::size(words))]));
    Log("search " + search->Edit1->text().toStdString());
    search->StartBitBtn->click();
    if (search->Memo1->blockCount() > 1 && Chance(0.5)) {
        search->Memo1MouseDown(QPoint(4, 4));
        search->Show1Click();
    }
}

int Monkey::Run()
{
    std::printf("kiv_monkey: seed %llu, %d seconds\n", static_cast<unsigned long long>(seed_), seconds_);
    std::fflush(stdout);
    const QString root = root_.path();
    qputenv("XDG_CONFIG_HOME", (root + "/config").toUtf8());
    qputenv("XDG_STATE_HOME", (root + "/state").toUtf8());
    for (const char* name : { "a.KIV", "b.KIV", "sub/c.KIV" })
        books_.push_back((root + "/" + name).toStdString());
    QDir().mkpath(root + "/sub");
    for (const char* name : { "p.bmp", "p.jpg" }) {
        QImage image(32, 24, QImage::Format_RGB32);
        image.fill(Qt::yellow);
        image.save(root + "/" + name);
        pictures_.push_back((root + "/" + name).toStdString());
    }
    // Files that are no book, or a damaged one, for opening and repairing.
    QFile junk(root + "/junk.KIV");
    if (junk.open(QIODevice::WriteOnly))
        junk.write(QByteArrayLiteral("PK\x03\x04 this is no book at all"));
    junk.close();
    others_ = { (root + "/junk.KIV").toStdString(), (root + "/saved.bmp").toStdString(), (root + "/none.KIV").toStdString() };

    TMainForm::Setup setup;
    program_ = std::make_unique<Program>(record_, prompts_, setup);
    program_->MainForm().show();
    if (!QTest::qWaitFor([this] { return !program_->MainForm().FirstShowPending(); }))
        Fail("the main window was never shown");

    // Menus and other pop-ups that run their own loop are closed again.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    closer.start(20);

    const Step steps[] = { { "type", 20, &Monkey::TypeText }, { "key", 15, &Monkey::PressKey },
        { "paste", 8, &Monkey::PasteSomething }, { "drop", 5, &Monkey::DropSomething }, { "click", 10, &Monkey::Click },
        { "date", 10, &Monkey::ChangeDate }, { "date list", 3, &Monkey::PickFromDateList },
        { "menu", 10, &Monkey::MenuCommand }, { "save", 5, &Monkey::Save }, { "save as", 2, &Monkey::SaveAs },
        { "password box", 2, &Monkey::TogglePassword }, { "search", 2, &Monkey::Search } };
    std::vector<int> weights;
    for (const Step& step : steps)
        weights.push_back(step.weight);
    std::discrete_distribution<int> choose(weights.begin(), weights.end());

    QElapsedTimer clock;
    clock.start();
    long saves = 0;
    while (clock.elapsed() < qint64(seconds_) * 1000 && (steps_ <= 0 || step_ < steps_)) {
        ++step_;
        const Step& step = steps[choose(rng_)];
        (this->*step.run)();
        QCoreApplication::processEvents();
        saves += !pending_.empty();
        SettleStep();
        if (!program_->MainForm().isVisible())
            Fail("the main window closed");
    }
    for (const std::string& book : books_)
        CheckBook(book);
    std::printf("kiv_monkey: %ld steps, %ld of them saving, seed %llu: no fault found\n", step_, saves,
                static_cast<unsigned long long>(seed_));
    std::fflush(stdout);
    program_.reset();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 1);
    std::uint64_t seed = std::random_device {}();
    int seconds = 60;
    long steps = 0;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (option == "--seconds" && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (option == "--steps" && i + 1 < argc)
            steps = std::atol(argv[++i]);
        else if (option == "--trace")
            trace = true;
        else {
            std::fprintf(stderr, "usage: kiv_monkey [--seed N] [--seconds S] [--steps N] [--trace]\n");
            return 2;
        }
    }
    QApplication application(argc, argv);
    SetUpApplication(application);
    return Monkey(seed, seconds, steps, trace).Run();
}
