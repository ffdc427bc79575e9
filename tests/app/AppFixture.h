// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Archive.h"
#include "Cp932.h"
#include "DayFiles.h"
#include "MemoryStream.h"
#include "Program.h"
#include "ScriptedPrompts.h"
#include "TCalendarForm.h"
#include "TDayBook.h"
#include "TDiaryForm.h"
#include "TOKBottomDlg.h"
#include "TPictureForm.h"
#include "TScheduleForm.h"
#include "Workspace.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDir>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <string>

namespace kiv::testing {

// A UTF-8 text as the record holds it.
inline std::string Rec(const char* utf8)
{
    return Cp932FromUtf8(utf8);
}

// The bytes of a day file that holds only a diary text.
inline std::vector<std::uint8_t> DayFileBytes(const char* diaryUtf8)
{
    TDayBook day;
    day.Diary = Rec(diaryUtf8);
    MemoryStream stream;
    day.Write(stream);
    return stream.Bytes();
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

inline QByteArray ReadFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The whole program on temporary folders: the registry file and the
// working directory live under a fresh configuration and state folder.
class App {
public:
    explicit App(const QStringList& arguments = {}, archive::ZipLibrary* zip = nullptr,
        archive::UnZipLibrary* unzip = nullptr, bool create = true)
    {
        qputenv("XDG_CONFIG_HOME", (root.path() + "/config").toUtf8());
        qputenv("XDG_STATE_HOME", (root.path() + "/state").toUtf8());
        setup.arguments = arguments;
        setup.zip = zip;
        setup.unzip = unzip;
        if (create)
            Create();
    }

    void Create() { program = std::make_unique<Program>(record, prompts, setup); }

    // The working directory the program will use (created on demand).
    std::string WorkDir() const
    {
        const QString dir = root.path() + "/state/kiv/work";
        QDir().mkpath(dir);
        return dir.toStdString();
    }
    std::string Path(const char* name) const { return (root.path() + "/" + name).toStdString(); }
    std::string DayFile(const QDate& date) const { return ws().DayFilePath(date); }

    TMainForm& main() const { return program->MainForm(); }
    Workspace& ws() const { return program->MainForm().workspace(); }
    TDiaryForm& diary() const { return program->DiaryForm(); }
    TScheduleForm& schedule() const { return program->ScheduleForm(); }
    TPictureForm& picture() const { return program->PictureForm(); }
    TCalendarForm& calendar() const { return program->CalendarForm(); }
    // The lines of the output dialog.
    QStringList OutputLines() const
    {
        return program->OKBottomDlg().findChild<QPlainTextEdit*>("Memo1")->toPlainText().split(QChar('\n'));
    }

    // Shows the main window and waits for its first showing to be handled.
    bool Start()
    {
        main().show();
        return QTest::qWaitFor([this] { return !main().FirstShowPending(); });
    }

    // The user clicks a date in the calendar.
    void Click(const QDate& date)
    {
        calendar().SetSelectedDate(date);
        emit calendar().MonthCalendar1->clicked(date);
    }

    // The Window menu's "… on top" for one of the editor windows.
    void Window(QWidget& form) { ws().ShowOnTop(&form); }

    // Typing through the input method, as Japanese text arrives.
    static void Type(QWidget* editor, const QString& text)
    {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(editor, &commit);
    }
    void TypeDiary(const QString& text) { Type(diary().DayBookMemo, text); }

    // A book holding the given days (diary texts), written through the
    // archive layer from day files in the working directory.
    void MakeBook(const std::string& book, const std::map<QDate, const char*>& days)
    {
        for (const auto& [date, diary] : days)
            WriteFile(DayFile(date), DayFileBytes(diary));
        QVERIFY(archive::AddDayFiles(book));
        for (const auto& [date, diary] : days)
            dayfiles::Remove(DayFile(date));
    }

    // The diary text of a member of the book, UTF-8; "<none>" without it.
    QString MemberDiary(const std::string& book, const QDate& date)
    {
        const std::string path = DayFile(date);
        if (!archive::BookHasDay(book, path))
            return "<none>";
        MemoryStream stream;
        if (!archive::ExtractDay(book, path, stream))
            return "<unreadable>";
        stream.SetPosition(0);
        TDayBook day;
        day.Read(stream);
        return QString::fromStdString(Utf8FromCp932(day.Diary));
    }

    // The texts of the messages shown, in order (UTF-8).
    QStringList Messages() const
    {
        QStringList texts;
        for (const auto& shown : prompts.messages())
            texts << QString::fromStdString(shown.text);
        return texts;
    }

    QWidget* TopChild() const { return main().MdiArea->subWindowList(QMdiArea::StackingOrder).last()->widget(); }

    QTemporaryDir root;
    TMainForm::Setup setup;
    ScriptedPrompts prompts;
    TDayBook record;
    std::unique_ptr<Program> program;
};

} // namespace kiv::testing
