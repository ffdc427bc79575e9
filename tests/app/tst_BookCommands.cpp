// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"
#include "Files.h"

#include "Files.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDirIterator>
#include <QLabel>
#include <QFont>
#include <QTextCharFormat>
#include <QtEndian>

#include <algorithm>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace kiv;
using namespace kiv::testing;

namespace {

const QDate kMay12(2001, 5, 12);
const QDate kMay13(2001, 5, 13);
const char* const kOverwrite = "すでに同名のファイルが存在します。\r\n上書き保存しますか？";

// The real libraries, reporting another version.
class VersionZip : public archive::ZipLibrary {
public:
    explicit VersionZip(int version)
        : version_(version)
    {
    }
    int Init(const ZipCallbacks& callbacks) override { return archive::RealZipLibrary().Init(callbacks); }
    int SetOptions(const ZipOptions& options) override { return archive::RealZipLibrary().SetOptions(options); }
    int Archive(int count, const char* archive, char** names) override
    {
        return archive::RealZipLibrary().Archive(count, archive, names);
    }
    void Version(ZipVersionRecord& record) override
    {
        archive::RealZipLibrary().Version(record);
        record.library[0] = static_cast<unsigned char>(version_ / 100);
        record.library[1] = static_cast<unsigned char>(version_ / 10 % 10);
        record.library[2] = static_cast<unsigned char>(version_ % 10);
    }

private:
    int version_;
};

class VersionUnZip : public archive::UnZipLibrary {
public:
    explicit VersionUnZip(std::uint16_t version)
        : version_(version)
    {
    }
    std::uint16_t GetVersion() override { return version_; }
    int GetRunning() override { return real().GetRunning(); }
    int GetBackGroundMode() override { return real().GetBackGroundMode(); }
    int SetBackGroundMode(int mode) override { return real().SetBackGroundMode(mode); }
    int CheckArchive(const char* archive, int mode) override { return real().CheckArchive(archive, mode); }
    HARC OpenArchive(HWND window, const char* archive, std::uint32_t mode) override
    {
        return real().OpenArchive(window, archive, mode);
    }
    int CloseArchive(HARC archive) override { return real().CloseArchive(archive); }
    int FindFirst(HARC archive, const char* name, MemberInfo* info) override
    {
        return real().FindFirst(archive, name, info);
    }
    int FindNext(HARC archive, MemberInfo* info) override { return real().FindNext(archive, info); }
    int ExtractMem(HWND window, const char* command, unsigned char* buffer, std::uint32_t size, time_t* time,
        std::uint16_t* attributes, std::uint32_t* written) override
    {
        return real().ExtractMem(window, command, buffer, size, time, attributes, written);
    }

private:
    static archive::UnZipLibrary& real() { return archive::RealUnZipLibrary(); }
    std::uint16_t version_;
};

// A program with a book of two days open on 12 May, whose diary was edited.
struct EditedBook {
    App app;
    std::string book = app.Path("diary.KIV");

    EditedBook()
    {
        app.MakeBook(book, { { kMay12, "五月十二日" }, { kMay13, "五月十三日" } });
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        app.Click(kMay12);
        app.diary().DayBookMemo->selectAll();
        app.TypeDiary("書き直し");
        app.prompts.clear();
    }
};

// A program of the same user as other: the same configuration and state folders.
void SameUser(const App& other)
{
    qputenv("XDG_CONFIG_HOME", (other.root.path() + "/config").toUtf8());
    qputenv("XDG_STATE_HOME", (other.root.path() + "/state").toUtf8());
}

// Fills the password dialog with a password.
std::function<void(QDialog&)> TypePassword(const char* password)
{
    return [password](QDialog& dialog) { dialog.findChild<QLineEdit*>()->setText(password); };
}

// How many times a modal dialog (the password dialog) was shown.
int ModalCount(const App& app)
{
    int count = 0;
    for (const auto& shown : app.prompts.shown())
        count += shown.kind == ScriptedPrompts::Kind::Modal;
    return count;
}

// The files under folder that hold text.
QStringList FilesHolding(const QString& folder, const QByteArray& text)
{
    QStringList found;
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (ReadFile(path.toStdString()).contains(text))
            found << path;
    }
    return found;
}

QFile::Permissions PrivateFolder()
{
    return QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
}

} // namespace

class BookCommandsTest : public QObject {
    Q_OBJECT

private slots:
    // A day saved encrypted while another writer holds the book waits
    // sealed: never in plain text in the working directory, shown again
    // after its password, and taken into the book at the next start once
    // the password given opens it; a wrong one leaves it as it was.
    void anEncryptedDayWaitsEncryptedUntilItsPasswordIsGiven()
    {
        const char* const sealedQuestion
            = "暗号化された日記が、日記書庫に保存されるのを待っています。\r\nパスワードを入力して、日記書庫に保存しますか？";
        const QByteArray secret = QByteArray::fromStdString(Rec("待っている秘密"));
        App first;
        const std::string book = first.Path("own.KIV");
        first.MakeBook(book, { { kMay13, "本の日" } });
        first.prompts.QueueFile(book);
        first.main().Open1->trigger();
        WriterLock other;
        std::string target, why;
        QVERIFY(ResolveTarget(book, target, why));
        QVERIFY(other.Take(target, 0, why));
        first.calendar().PassWordCheckBox->setChecked(true);
        first.TypeDiary("待っている秘密");
        first.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        first.prompts.QueueModal(Answer::Ok, TypePassword("pw")); // no encrypted day yet: typed twice
        first.prompts.QueueWait(Answer::Cancel); // the user gives up waiting for the other writer
        first.main().Save1->trigger();
        QCOMPARE(first.Messages(), QStringList());
        const std::string waiting = first.DayFile(QDate::currentDate());
        const QByteArray sealed = ReadFile(waiting);
        QVERIFY(sealed.startsWith("PK\x03\x04"));
        QCOMPARE(FilesHolding(QString::fromStdString(first.WorkDir()), secret), QStringList());
        const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
        for (const char* name : { "", "kiv-book.txt" })
            QCOMPARE(QFile::permissions(QString::fromStdString(*name ? first.WorkDir() + "/" + name : waiting)),
                ownerOnly);

        // Shown again, the waiting day is read with its password.
        first.Click(kMay12);
        first.prompts.QueueModal(Answer::Ok); // the field still holds it
        first.Click(QDate::currentDate());
        QCOMPARE(first.diary().DayBookMemo->toPlainText(), QStringLiteral("待っている秘密"));
        first.program.reset();
        archive::ForgetPasswords(); // as a new process starts
        other.Release();
        const QByteArray bookBefore = ReadFile(book);

        for (const char* password : { "wrong", "pw" }) {
            App next({ QString::fromStdString(book) }, nullptr, nullptr, false);
            SameUser(first);
            next.Create();
            next.prompts.Queue(Answer::Yes);
            next.prompts.QueueModal(Answer::Ok, TypePassword(password));
            if (std::string(password) == "wrong") {
                next.prompts.Queue(Answer::Ok);
                next.prompts.Queue(Answer::No); // kept, not deleted
                next.prompts.QueueModal(Answer::Cancel); // showing the day: not now
            } else {
                next.prompts.QueueModal(Answer::Ok); // showing the day: the field holds the password
            }
            QVERIFY(next.Start());
            QCOMPARE(next.Messages().front(), QString(sealedQuestion));
            QCOMPARE(next.prompts.messages().front().buttons, Buttons::YesNo);
            QCOMPARE(next.prompts.pendingReplies(), std::size_t(0));
            if (std::string(password) == "wrong") {
                QCOMPARE(next.Messages(),
                    QStringList({ sealedQuestion,
                        "パスワードが違います。\r\n暗号化された日記は、日記書庫に保存されないまま残してあります。",
                        "すでに日記が解凍されていますが、削除しますか？", "格納ファイルにパスワードがかかっています。" }));
                QCOMPARE(ReadFile(waiting), sealed);
                QCOMPARE(ReadFile(book), bookBefore);
                QVERIFY(next.diary().DayBookMemo->toPlainText().isEmpty());
                QVERIFY(!next.ws().Modified());
                next.main().Close1->trigger(); // it waits beside, for its book
                QCOMPARE(ReadFile(first.WorkDir() + "-2/" + dayfiles::FileName(waiting)), sealed);
                next.program.reset();
                continue;
            }
            QCOMPARE(next.Messages(), QStringList { sealedQuestion });
            QCOMPARE(next.diary().DayBookMemo->toPlainText(), QStringLiteral("待っている秘密"));
            QVERIFY(!next.ws().HasDayFiles());
            QVERIFY(!ReadFile(book).contains(secret));
            next.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
            QCOMPARE(next.MemberDiary(book, QDate::currentDate()), QStringLiteral("待っている秘密"));
            QCOMPARE(next.MemberDiary(book, kMay13), QStringLiteral("本の日"));
        }
    }

    // Closing the book wipes what held its password: the dialog's field,
    // and the passwords that opened its days, in the layer and the library.
    void closingTheBookForgetsItsPassword()
    {
        App app;
        const std::string book = app.Path("secret.KIV");
        app.calendar().PassWordCheckBox->setChecked(true);
        app.TypeDiary("秘密");
        app.prompts.QueueFile(book);
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.main().SaveAs1->trigger();
        app.prompts.QueueModal(Answer::Ok); // reading it: the field holds the password
        QCOMPARE(app.MemberDiary(book, QDate::currentDate()), QStringLiteral("秘密"));
        QVERIFY(archive::KnownToOpen(book, "pw"));
        app.main().Close1->trigger();
        QVERIFY(!archive::KnownToOpen(book, "pw"));
        app.prompts.clear();
        app.prompts.QueueModal(Answer::Cancel, [](QDialog& dialog) {
            QVERIFY(dialog.findChild<QLineEdit*>()->text().isEmpty());
        });
        QCOMPARE(app.MemberDiary(book, QDate::currentDate()), QStringLiteral("<unreadable>"));
        QCOMPARE(ModalCount(app), 1); // the library asked: it remembered nothing
    }

    // Without a password the day is not written at all: it stays shown,
    // edited, on its date.
    void anEncryptedDayWithoutItsPasswordStaysShown()
    {
        EditedBook edited;
        App& app = edited.app;
        app.calendar().PassWordCheckBox->setChecked(true);
        app.prompts.Queue(Answer::Yes);
        app.prompts.QueueModal(Answer::Cancel);
        app.Click(kMay13);
        QCOMPARE(app.Messages(),
            QStringList({ "変更された日記を保存しますか？", "パスワードが入力されなかったので、日記を保存しませんでした." }));
        QCOMPARE(app.ws().Date(), kMay12);
        QCOMPARE(app.calendar().SelectedDate(), kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("書き直し"));
        QVERIFY(app.ws().Modified());
        QVERIFY(!app.ws().HasDayFiles());
        QCOMPARE(app.MemberDiary(edited.book, kMay12), QStringLiteral("五月十二日"));
    }

    // The previous version of a book keeps the days that were just
    // encrypted in plain text: the user is offered to remove it.
    void thePlainPreviousBookMayBeRemoved_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::newRow("はい") << true;
        QTest::newRow("いいえ") << false;
    }
    void thePlainPreviousBookMayBeRemoved()
    {
        QFETCH(bool, remove);
        EditedBook edited;
        App& app = edited.app;
        const QString previous = QString::fromStdString(edited.book + "~");
        app.calendar().PassWordCheckBox->setChecked(true);
        app.prompts.Queue(Answer::Yes);
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.prompts.Queue(remove ? Answer::Yes : Answer::No);
        app.Click(kMay13);
        const std::string question = "前の版の日記書庫 " + previous.toStdString()
            + " には、暗号化する前の日記が残っています。\r\n削除しますか？";
        QCOMPARE(app.prompts.messages().back().text, question);
        QCOMPARE(app.prompts.messages().back().buttons, Buttons::YesNoDefaultNo);
        QCOMPARE(QFile::exists(previous), !remove);
        QVERIFY(!ReadFile(edited.book).contains(Rec("書き直し").c_str()));

        // A day encrypted before is not asked about again.
        app.prompts.clear();
        app.prompts.QueueModal(Answer::Ok); // showing it: the field holds the password
        app.Click(kMay12);
        app.diary().DayBookMemo->selectAll();
        app.TypeDiary("三度目");
        app.prompts.Queue(Answer::Yes);
        app.prompts.QueueModal(Answer::Ok);
        app.Click(kMay13);
        QCOMPARE(app.Messages(), QStringList { "変更された日記を保存しますか？" });
        QCOMPARE(app.prompts.pendingReplies(), std::size_t(0));
    }
    void versionWarnings_data()
    {
        QTest::addColumn<int>("zip");
        QTest::addColumn<int>("unzip");
        QTest::addColumn<QStringList>("messages");
        const QString zipText = "ZIP32.DLL のバージョンを 2.3 以上のものに変更してください。";
        const QString unzipText = "UNZIP32.DLL のバージョンを 5.40 以上のものに変更してください。";
        QTest::newRow("current") << 230 << 540 << QStringList();
        QTest::newRow("old zip") << 229 << 540 << QStringList { zipText };
        QTest::newRow("old unzip") << 230 << 539 << QStringList { unzipText };
        QTest::newRow("both old") << 229 << 539 << QStringList { zipText, unzipText };
    }
    void versionWarnings()
    {
        QFETCH(int, zip);
        QFETCH(int, unzip);
        QFETCH(QStringList, messages);
        VersionZip zipLibrary(zip);
        VersionUnZip unzipLibrary(static_cast<std::uint16_t>(unzip));
        App app({}, &zipLibrary, &unzipLibrary);
        QVERIFY(app.Start());
        QCOMPARE(app.Messages(), messages);
        for (const auto& shown : app.prompts.messages()) {
            QVERIFY(shown.beepBefore);
            QCOMPARE(shown.icon, Icon::Error);
        }
        app.main().hide();
        app.main().show();
        QTest::qWait(20);
        QCOMPARE(app.Messages(), messages); // a later showing checks nothing
    }

    void commandLineBookWithLeftoverDayFiles_data()
    {
        QTest::addColumn<bool>("deleteThem");
        QTest::newRow("keep") << false;
        QTest::newRow("delete") << true;
    }
    void commandLineBookWithLeftoverDayFiles()
    {
        QFETCH(bool, deleteThem);
        App maker;
        const std::string book = maker.Path("book.KIV");
        maker.MakeBook(book, { { QDate::currentDate(), "本の今日" } });
        App app({ QString::fromStdString("\"" + book + "\"") }, nullptr, nullptr, false);
        WriteFile(app.WorkDir() + "/" + QDate::currentDate().toString("yyyyMMdd").toStdString() + ".DAY",
            DayFileBytes("残っていた今日"));
        app.Create();
        app.prompts.Queue(deleteThem ? Answer::Yes : Answer::No);
        QVERIFY(app.Start());
        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, std::string("すでに日記が解凍されていますが、削除しますか？"));
        QCOMPARE(shown[0].buttons, Buttons::YesNoDefaultNo);
        QVERIFY(shown[0].beepBefore);
        QCOMPARE(app.ws().BookFileName(), book);
        QCOMPARE(app.main().windowTitle(), QString::fromStdString("ＫＩＶの日記 ( " + book + " )"));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(),
            deleteThem ? QStringLiteral("本の今日") : QStringLiteral("残っていた今日"));
        QCOMPARE(app.ws().HasDayFiles(), !deleteThem);
        QCOMPARE(app.diary().windowTitle(), QStringLiteral("今日の日記"));
        QVERIFY(!app.ws().Modified());
    }

    void startWithoutBookLoadsNothingAndAsksNothing()
    {
        App app({}, nullptr, nullptr, false);
        WriteFile(app.WorkDir() + "/20010512.DAY", DayFileBytes("残り"));
        app.Create();
        QVERIFY(app.Start());
        QVERIFY(app.prompts.messages().empty());
        QVERIFY(!app.ws().EditorsHaveContent());
        QVERIFY(dayfiles::Exists(app.DayFile(kMay12)));
    }

    void saveWithoutANameOnlyTellsSo()
    {
        App app;
        app.TypeDiary("名前なし");
        app.main().Save1->trigger();
        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, std::string("日記に名前がついていないので、名前をつけて保存してください。"));
        QCOMPARE(shown[0].icon, Icon::None);
        QCOMPARE(shown[0].caption, std::string(kAppTitle));
        QVERIFY(shown[0].beepBefore);
        QVERIFY(!app.ws().HasDayFiles());
        QVERIFY(app.ws().Modified());
    }

    void saveAsOntoAnExistingBookKeepsItsOtherMembers_data()
    {
        QTest::addColumn<bool>("overwrite");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void saveAsOntoAnExistingBookKeepsItsOtherMembers()
    {
        QFETCH(bool, overwrite);
        App app;
        const std::string book = app.Path("old.KIV");
        app.MakeBook(book, { { kMay12, "十二日" }, { kMay13, "十三日" } });
        app.Click(kMay13);
        app.TypeDiary("新しい十三日");
        app.prompts.QueueFile(book);
        app.prompts.Queue(overwrite ? Answer::Yes : Answer::No);
        app.main().SaveAs1->trigger();

        const auto& dialog = app.prompts.shown().front().dialog;
        QCOMPARE(dialog.filter, std::string("KIVの作ったファイル|*.KIV"));
        QCOMPARE(dialog.defaultExt, std::string("KIV"));
        QCOMPARE(app.prompts.messages().at(0).text, std::string(kOverwrite));
        QCOMPARE(app.prompts.messages().at(0).buttons, Buttons::YesNo);
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("十二日"));
        QCOMPARE(app.MemberDiary(book, kMay13), overwrite ? QStringLiteral("新しい十三日") : QStringLiteral("十三日"));
        QCOMPARE(app.ws().BookOpen(), overwrite);
        QCOMPARE(app.ws().HasDayFiles(), false);
        if (overwrite) {
            QCOMPARE(app.main().windowTitle(), QString::fromStdString("ＫＩＶの日記 ( " + book + " )"));
            QCOMPARE(app.calendar().DiaryComboBox->count(), 2);
            QVERIFY(!app.ws().Modified());
        }
    }

    // Save As of an empty day to a new name makes the named book, empty,
    // and the date list and the calendar's bold days are the new book's.
    void saveAsOfAnEmptyDayMakesAnEmptyBook()
    {
        App app;
        const std::string old = app.Path("old.KIV");
        app.MakeBook(old, { { kMay12, "十二日" } });
        app.prompts.QueueFile(old);
        app.main().Open1->trigger();
        QCOMPARE(app.calendar().DiaryComboBox->count(), 1);
        app.calendar().SetSelectedDate(kMay12);
        QCOMPARE(app.calendar().MonthCalendar1->dateTextFormat(kMay12).fontWeight(), int(QFont::Bold));

        const std::string fresh = app.Path("fresh.KIV");
        app.prompts.QueueFile(fresh);
        app.main().SaveAs1->trigger();
        QVERIFY(app.Messages().isEmpty());
        QVERIFY(dayfiles::IsFile(fresh));
        QCOMPARE(archive::DateListText(fresh), std::string());
        QCOMPARE(app.main().windowTitle(), QString::fromStdString("ＫＩＶの日記 ( " + fresh + " )"));
        QCOMPARE(app.calendar().DiaryComboBox->count(), 0);
        QVERIFY(app.calendar().MonthCalendar1->dateTextFormat(kMay12).fontWeight() != int(QFont::Bold));
        QVERIFY(app.Messages().isEmpty());

        // The empty book takes days as any book does.
        app.TypeDiary("最初の日");
        app.main().Save1->trigger();
        QVERIFY(app.Messages().isEmpty());
        QCOMPARE(app.MemberDiary(fresh, QDate::currentDate()), QStringLiteral("最初の日"));
        QCOMPARE(app.calendar().DiaryComboBox->count(), 1);
    }

    void saveBookDropsEmptyDayFiles()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay13, "十三日" } });
        app.ws().SetBookFileName(book);
        app.ws().SetBookOpen(true);
        TDayBook empty;
        MemoryStream stream;
        empty.Write(stream);
        QCOMPARE(stream.Size(), std::size_t(16));
        WriteFile(app.WorkDir() + "/20010501.DAY", stream.Bytes());
        WriteFile(app.WorkDir() + "/20010502.DAY", std::vector<std::uint8_t>(17, 'x'));
        app.main().Save1->trigger();
        QVERIFY(!archive::BookHasDay(book, "20010501.DAY"));
        QVERIFY(archive::BookHasDay(book, "20010502.DAY"));
        QCOMPARE(app.MemberDiary(book, kMay13), QStringLiteral("十三日"));
        QVERIFY(!app.ws().HasDayFiles());
        QCOMPARE(app.calendar().DiaryComboBox->count(), 2);
    }

    // Close with unsaved edits: each answer, each way the naming can end.
    void closeBranches_data()
    {
        QTest::addColumn<int>("question"); // Yes or No
        QTest::addColumn<QString>("target"); // "", "new", "book"
        QTest::addColumn<int>("overwrite"); // for the book
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QString>("bookAfter"); // diary of 12 May in the book
        QTest::addColumn<bool>("newFile");
        const QString old = "五月十二日";
        const QString edited = "書き直し";
        QTest::newRow("no") << int(Answer::No) << "" << 0 << true << old << false;
        // A save the user began and did not finish keeps the book and the edits.
        QTest::newRow("yes, dialog cancelled") << int(Answer::Yes) << "" << 0 << false << old << false;
        QTest::newRow("yes, new file") << int(Answer::Yes) << "new" << 0 << true << old << true;
        QTest::newRow("yes, overwrite yes")
            << int(Answer::Yes) << "book" << int(Answer::Yes) << true << edited << false;
        QTest::newRow("yes, overwrite no") << int(Answer::Yes) << "book" << int(Answer::No) << false << old << false;
        QTest::newRow("yes, overwrite cancel")
            << int(Answer::Yes) << "book" << int(Answer::Cancel) << false << old << false;
    }
    void closeBranches()
    {
        QFETCH(int, question);
        QFETCH(QString, target);
        QFETCH(int, overwrite);
        QFETCH(bool, closed);
        QFETCH(QString, bookAfter);
        QFETCH(bool, newFile);
        EditedBook edited;
        App& app = edited.app;
        const std::string fresh = app.Path("fresh.KIV");
        app.prompts.Queue(Answer(question));
        if (question == int(Answer::Yes))
            app.prompts.QueueFile(target == "new" ? fresh : target == "book" ? edited.book : std::string());
        if (overwrite)
            app.prompts.Queue(Answer(overwrite));
        app.main().Close1->trigger();

        const auto shown = app.prompts.messages();
        QCOMPARE(shown.at(0).text, std::string("日記が変更されています。\r\n変更を保存しますか？"));
        QCOMPARE(shown.at(0).buttons, Buttons::YesNo);
        QVERIFY(!shown.at(0).beepBefore);
        if (overwrite)
            QCOMPARE(shown.at(1).buttons, Buttons::YesNoCancel);
        QCOMPARE(app.MemberDiary(edited.book, kMay12), bookAfter);
        QCOMPARE(dayfiles::Exists(fresh), newFile);
        if (newFile)
            QCOMPARE(app.MemberDiary(fresh, kMay12), QStringLiteral("書き直し"));
        if (closed) {
            QVERIFY(app.ws().BookFileName().empty());
            QVERIFY(!app.ws().BookOpen());
            QCOMPARE(app.main().windowTitle(), QStringLiteral("ＫＩＶの日記 ( 開いている日記なし  )"));
            QVERIFY(!app.ws().EditorsHaveContent());
            QCOMPARE(app.ws().Date(), QDate::currentDate());
            QCOMPARE(app.calendar().SelectedDate(), QDate::currentDate());
            QCOMPARE(app.diary().windowTitle(), QStringLiteral("今日の日記"));
            QCOMPARE(app.schedule().windowTitle(), QStringLiteral("今日の予定"));
            QVERIFY(!app.ws().Modified());
            QVERIFY(!app.ws().HasDayFiles());
            QCOMPARE(app.calendar().DiaryComboBox->count(), 2); // the list stays
        } else {
            QCOMPARE(app.ws().BookFileName(), edited.book);
            QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("書き直し"));
            QVERIFY(app.ws().Modified());
            QCOMPARE(app.ws().Date(), kMay12);
        }
    }

    // 日記を開く with unsaved edits asks first: はい saves them as Close
    // does (a save not finished stops the open), いいえ drops them,
    // キャンセル stops.
    void openWithAModifiedDay_data()
    {
        QTest::addColumn<int>("question");
        QTest::addColumn<QString>("target"); // save dialog: "", "new", "book"
        QTest::addColumn<int>("overwrite");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("bookAfter"); // diary of 12 May in the edited book
        QTest::newRow("cancel") << int(Answer::Cancel) << "" << 0 << false << "五月十二日";
        QTest::newRow("no") << int(Answer::No) << "" << 0 << true << "五月十二日";
        QTest::newRow("yes, dialog cancelled") << int(Answer::Yes) << "" << 0 << false << "五月十二日";
        QTest::newRow("yes, overwrite no") << int(Answer::Yes) << "book" << int(Answer::No) << false << "五月十二日";
        QTest::newRow("yes, overwrite yes") << int(Answer::Yes) << "book" << int(Answer::Yes) << true << "書き直し";
    }
    void openWithAModifiedDay()
    {
        QFETCH(int, question);
        QFETCH(QString, target);
        QFETCH(int, overwrite);
        QFETCH(bool, opened);
        QFETCH(QString, bookAfter);
        EditedBook edited;
        App& app = edited.app;
        const std::string next = app.Path("next.KIV");
        app.MakeBook(next, { { kMay12, "次の本" } });
        app.prompts.Queue(Answer(question));
        if (question == int(Answer::Yes))
            app.prompts.QueueFile(target == "book" ? edited.book : std::string());
        if (overwrite)
            app.prompts.Queue(Answer(overwrite));
        app.prompts.QueueFile(next);
        app.main().Open1->trigger();

        const auto shown = app.prompts.messages();
        QVERIFY(!shown.empty());
        QCOMPARE(shown.at(0).text, std::string("日記が変更されています。\r\n変更を保存しますか？"));
        QCOMPARE(shown.at(0).buttons, Buttons::YesNoCancel);
        QCOMPARE(app.MemberDiary(edited.book, kMay12), bookAfter);
        QCOMPARE(app.prompts.pendingReplies(), std::size_t(opened ? 0 : 1)); // the open dialog came or not
        QCOMPARE(app.ws().BookFileName(), opened ? next : edited.book);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), opened ? QStringLiteral("次の本") : QStringLiteral("書き直し"));
        QCOMPARE(app.ws().Modified(), !opened);
        QVERIFY(!app.ws().HasDayFiles());
    }

    void closeClosesTheSearchWindowToo()
    {
        App app;
        QWidget* search = new QWidget;
        app.main().MdiArea->addSubWindow(search)->show();
        QPointer<QWidget> watch(search);
        app.main().Close1->trigger();
        QTRY_VERIFY(watch.isNull());
        QCOMPARE(app.main().MdiArea->subWindowList().size(), 3);
        QVERIFY(app.prompts.messages().empty());
    }

    void exitBranches_data()
    {
        QTest::addColumn<int>("question");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("overwrite");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("modifiedAfter"); // only a save clears the flag
        QTest::newRow("cancel") << int(Answer::Cancel) << "" << 0 << false << true;
        QTest::newRow("no") << int(Answer::No) << "" << 0 << true << true;
        QTest::newRow("yes, dialog cancelled") << int(Answer::Yes) << "" << 0 << false << true;
        QTest::newRow("yes, new file") << int(Answer::Yes) << "new" << 0 << true << false;
        QTest::newRow("yes, overwrite no") << int(Answer::Yes) << "book" << int(Answer::No) << false << true;
        QTest::newRow("yes, overwrite cancel") << int(Answer::Yes) << "book" << int(Answer::Cancel) << false << true;
    }
    void exitBranches()
    {
        QFETCH(int, question);
        QFETCH(QString, target);
        QFETCH(int, overwrite);
        QFETCH(bool, closed);
        QFETCH(bool, modifiedAfter);
        EditedBook edited;
        App& app = edited.app;
        app.main().show();
        const std::string fresh = app.Path("fresh.KIV");
        app.prompts.Queue(Answer(question));
        if (question == int(Answer::Yes))
            app.prompts.QueueFile(target == "new" ? fresh : target == "book" ? edited.book : std::string());
        if (overwrite)
            app.prompts.Queue(Answer(overwrite));
        app.main().Exit1->trigger();

        const auto shown = app.prompts.messages();
        QCOMPARE(shown.at(0).text, std::string("日記は書き換えられています。保存しますか？"));
        QCOMPARE(shown.at(0).buttons, Buttons::YesNoCancel);
        QVERIFY(shown.at(0).beepBefore);
        QCOMPARE(app.main().isVisible(), !closed);
        if (!closed)
            QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("書き直し"));
        QCOMPARE(app.MemberDiary(edited.book, kMay12), QStringLiteral("五月十二日"));
        QCOMPARE(dayfiles::Exists(fresh), target == "new");
        if (target == "new")
            QCOMPARE(app.MemberDiary(fresh, kMay12), QStringLiteral("書き直し"));
        QCOMPARE(app.ws().HasDayFiles(), false);
        QCOMPARE(app.ws().Modified(), modifiedAfter);
    }

    void unmodifiedExitAsksNothingAndEmptiesTheWorkingDirectory()
    {
        App app;
        app.main().show();
        WriteFile(app.DayFile(kMay12), DayFileBytes("書いたもの"));
        QVERIFY(app.main().close());
        QVERIFY(app.prompts.messages().empty());
        QVERIFY(!app.ws().HasDayFiles());
    }

    void deleteDiaryFromTheBook_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(Answer::Yes);
        QTest::newRow("no") << int(Answer::No);
    }
    void deleteDiaryFromTheBook()
    {
        QFETCH(int, answer);
        EditedBook edited;
        App& app = edited.app;
        app.prompts.Queue(Answer(answer));
        app.main().DeleteDayBook->trigger();
        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, std::string("本当に削除してもいいですか？"));
        QVERIFY(shown[0].beepBefore);
        const bool yes = answer == int(Answer::Yes);
        QCOMPARE(app.MemberDiary(edited.book, kMay12), yes ? QStringLiteral("<none>") : QStringLiteral("五月十二日"));
        QCOMPARE(app.MemberDiary(edited.book, kMay13), QStringLiteral("五月十三日"));
        QCOMPARE(app.ws().EditorsHaveContent(), !yes);
        QVERIFY(!app.ws().Modified());
        QCOMPARE(app.calendar().DiaryComboBox->count(), 2);
    }

    void deleteDiaryWithoutABookRemovesOnlyTheDayFile()
    {
        App app;
        WriteFile(app.DayFile(kMay12), DayFileBytes("一日"));
        app.Click(kMay12);
        app.prompts.Queue(Answer::Yes);
        app.main().DeleteDayBook->trigger();
        QCOMPARE(app.prompts.messages().size(), std::size_t(1));
        QVERIFY(!dayfiles::Exists(app.DayFile(kMay12)));
        QVERIFY(!app.ws().EditorsHaveContent());
        QVERIFY(app.ws().Record().Diary.empty());
    }

    void deleteDiaryOnAnEmptyDayDoesNothing()
    {
        App app;
        app.ws().SetModified(true);
        app.main().DeleteDayBook->trigger();
        QVERIFY(app.prompts.shown().empty());
        QVERIFY(app.ws().Modified());
    }

    void repairMendsADamagedCopy()
    {
        App app;
        const std::string book = app.Path("good.KIV");
        app.MakeBook(book, { { kMay12, "十二日" }, { kMay13, "十三日" } });
        QByteArray bytes = ReadFile(book);
        const std::string damaged = app.Path("damaged.KIV");
        // Without its central directory the copy is no archive any more.
        const qsizetype central = bytes.lastIndexOf(QByteArray("PK\x01\x02", 4), bytes.size() - 1);
        QVERIFY(central > 0);
        WriteFile(damaged, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + central));
        app.prompts.QueueFile(damaged);
        app.main().ArchiveRepair->trigger();
        QCOMPARE(app.prompts.shown().front().dialog.filter, std::string("日記ファイル ( *.KIV , *.ZIP )|*.KIV;*.ZIP"));
        QVERIFY(app.Messages().isEmpty());
        QCOMPARE(archive::DateListText(damaged), std::string("2001/05/12\r\n2001/05/13\r\n"));
        QCOMPARE(app.MemberDiary(damaged, kMay13), QStringLiteral("十三日"));
        QVERIFY(app.ws().BookFileName().empty());
        // The output dialog says what the repair did in the program's words.
        const QStringList lines = app.OutputLines();
        QVERIFY(lines.contains(QStringLiteral("2件を残しました。除いたもの0件。")));
        QVERIFY(lines.contains(QString::fromStdString("修復前の書庫を " + damaged + ".bak として残しました。")));
    }

    // The summary in the output dialog tells what was written: a day whose
    // header is lost is named, and a damaged day that cannot be mended is
    // never followed by "no repair needed".
    void repairSummaryTellsTheTruth()
    {
        App app;
        const std::string book = app.Path("good.KIV");
        app.MakeBook(book, { { kMay12, "十二日" }, { kMay13, "十三日" }, { kMay13.addDays(1), "十四日" } });
        const QByteArray bytes = ReadFile(book);
        const qsizetype central = bytes.lastIndexOf(QByteArray("PK\x01\x02", 4), bytes.size() - 1);
        const qsizetype second = bytes.indexOf("20010513.DAY") - 30;
        QVERIFY(central > 0 && second > 0);

        QByteArray lost = bytes.left(bytes.indexOf(QByteArray("PK\x01\x02", 4)));
        lost[second] = 'Q';
        const std::string headerLost = app.Path("header lost.KIV");
        WriteFile(headerLost, std::vector<std::uint8_t>(lost.begin(), lost.end()));
        app.prompts.QueueFile(headerLost);
        app.main().ArchiveRepair->trigger();
        QStringList lines = app.OutputLines();
        QVERIFY2(lines.contains(QStringLiteral("20010513.DAY を除きました（データの見出しが見つからないか、壊れています）。")),
            qPrintable(lines.join('\n')));
        QVERIFY(lines.contains(QStringLiteral("2件を残しました。除いたもの1件。")));

        QByteArray damagedData = bytes;
        const qsizetype data = second + 30 + qFromLittleEndian<quint16>(bytes.constData() + second + 26)
            + qFromLittleEndian<quint16>(bytes.constData() + second + 28);
        damagedData[data + 5] = char(damagedData[data + 5] ^ 0xFF);
        const std::string dataDamaged = app.Path("data damaged.KIV");
        WriteFile(dataDamaged, std::vector<std::uint8_t>(damagedData.begin(), damagedData.end()));
        app.prompts.QueueFile(dataDamaged);
        app.main().ArchiveRepair->trigger();
        lines = app.OutputLines();
        QVERIFY2(lines.filter(QStringLiteral("20010513.DAY はデータが壊れていますが")).size() == 1, qPrintable(lines.join('\n')));
        QVERIFY2(lines.filter(QStringLiteral("修復の必要がありません")).isEmpty(), qPrintable(lines.join('\n')));
    }

    void openAsksAboutLeftoversAndShowsTheBook()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { QDate::currentDate(), "今日の分" } });
        WriteFile(app.DayFile(kMay12), DayFileBytes("残り"));
        app.TypeDiary("捨てる書き換え");
        app.prompts.Queue(Answer::No); // the edits are dropped
        app.prompts.QueueFile(book);
        app.prompts.Queue(Answer::Yes);
        app.main().Open1->trigger();
        QCOMPARE(app.Messages(),
            QStringList({ "日記が変更されています。\r\n変更を保存しますか？", "すでに日記が解凍されていますが、削除しますか？" }));
        QCOMPARE(app.prompts.shown().at(1).dialog.filter,
            std::string("日記ファイル ( *.KIV)|*.KIV|ＺＩＰファイル ( *.ZIP )|*.ZIP"));
        QVERIFY(!app.ws().HasDayFiles());
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("今日の分"));
        QVERIFY(!app.ws().Modified());
        QCOMPARE(app.calendar().DiaryComboBox->count(), 1);
    }

    // The calendar's check box decides, the ツール menu's method says how;
    // the password dialog answers both the add and the later reading of the
    // member.
    void aTickedPasswordBoxEncryptsWhatIsSaved_data()
    {
        QTest::addColumn<bool>("aes");
        QTest::newRow("traditional") << false;
        QTest::newRow("aes256") << true;
    }
    void aTickedPasswordBoxEncryptsWhatIsSaved()
    {
        QFETCH(bool, aes);
        App app;
        (aes ? app.main().Aes256Encryption1 : app.main().TraditionalEncryption1)->trigger();
        const std::string book = app.Path("secret.KIV");
        const auto typePassword = TypePassword("himitsu");
        app.calendar().PassWordCheckBox->setChecked(true);
        app.TypeDiary("秘密の日記");
        app.prompts.QueueFile(book);
        app.prompts.QueueModal(Answer::Ok, typePassword);
        app.prompts.QueueModal(Answer::Ok, typePassword); // a new book: typed twice
        app.main().SaveAs1->trigger();
        QVERIFY(app.prompts.messages().empty());
        QVERIFY(!ReadFile(book).contains(Cp932FromUtf8("秘密の日記").c_str()));
        app.main().Close1->trigger();

        app.prompts.QueueFile(book);
        app.prompts.QueueModal(Answer::Ok, typePassword);
        app.main().Open1->trigger();
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("秘密の日記"));
        QCOMPARE(ModalCount(app), 3);
        QCOMPARE(ReadFile(book).contains(QByteArray("\x01\x99\x07\x00\x02\x00"
                                                    "AE",
                     8)),
            aes);
        app.main().Close1->trigger();

        // A copy, whose password the library has not seen: a wrong password
        // is said to be wrong and asked again, a cancel shows the message,
        // and nothing is written.
        const std::string copy = app.Path("copy.KIV");
        QVERIFY(QFile::copy(QString::fromStdString(book), QString::fromStdString(copy)));
        const QByteArray before = ReadFile(copy);
        app.prompts.clear();
        app.prompts.QueueFile(copy);
        app.prompts.QueueModal(Answer::Ok, TypePassword("wrong"));
        app.prompts.QueueModal(Answer::Cancel);
        app.main().Open1->trigger();
        QCOMPARE(ModalCount(app), 2);
        QCOMPARE(app.Messages(), QStringList({ "パスワードが違います。", "格納ファイルにパスワードがかかっています。" }));
        QCOMPARE(app.prompts.messages().front().icon, Icon::Error);
        QVERIFY(app.prompts.messages().front().beepBefore);
        QVERIFY(app.diary().DayBookMemo->toPlainText().isEmpty());
        QVERIFY(!app.ws().Modified());
        app.main().Close1->trigger();
        QCOMPARE(ReadFile(copy), before);
        QVERIFY(!app.ws().HasDayFiles());
    }

    // A second copy of the program, started by the same user, works in a
    // private folder of its own: saving its book neither takes in nor
    // deletes the day the first copy kept after a failed add.
    void aSecondCopyNeverTouchesTheFirstCopysDayFiles()
    {
        App first;
        first.ws().SetBookFileName(first.Path("full/disk/a.KIV"));
        first.ws().SetBookOpen(true);
        first.TypeDiary("Aの日記");
        first.main().Save1->trigger();
        const std::string kept = first.DayFile(QDate::currentDate());
        QVERIFY(dayfiles::IsFile(kept));

        App second({}, nullptr, nullptr, false);
        SameUser(first);
        second.Create();
        const std::string own = second.ws().WorkingDirectory();
        QCOMPARE(own, first.WorkDir() + "-2");
        for (const std::string& folder : { first.WorkDir(), own })
            QCOMPARE(QFileInfo(QString::fromStdString(folder)).permissions() & 0x7777, PrivateFolder());
        const std::string book = second.Path("b.KIV");
        second.TypeDiary("Bの日記");
        second.prompts.QueueFile(book);
        second.main().SaveAs1->trigger();
        QVERIFY(second.Messages().isEmpty());
        QCOMPARE(second.MemberDiary(book, QDate::currentDate()), QStringLiteral("Bの日記"));
        QVERIFY(ReadFile(kept).contains(Cp932FromUtf8("Aの日記").c_str()));
        QCOMPARE(QFile::permissions(QString::fromStdString(kept)) & 0x7777,
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // Day files left behind wait for the book they were written for: another
    // book neither asks about them nor takes them in; their own book asks
    // (いいえ by default) and adds them with the encryption chosen then.
    void leftoverDaysWaitForTheirOwnBook()
    {
        App first;
        const QString shelf = first.root.path() + "/shelf";
        QVERIFY(QDir().mkpath(shelf));
        const std::string own = (shelf + "/own.KIV").toStdString();
        const std::string other = first.Path("other.KIV");
        first.MakeBook(own, { { kMay13, "本の日" } });
        first.MakeBook(other, { { kMay13, "別の本" } });
        first.prompts.QueueFile(own);
        first.main().Open1->trigger();
        QVERIFY(QDir().rename(shelf, shelf + ".away"));
        first.calendar().PassWordCheckBox->setChecked(true);
        first.TypeDiary("残す日記");
        first.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        first.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        first.main().Save1->trigger(); // the book is away: the add fails
        QVERIFY(first.Messages().contains("圧縮中にエラーが発生しました。"));
        first.program.reset();
        QVERIFY(QDir().rename(shelf + ".away", shelf));

        App next({ QString::fromStdString(other) }, nullptr, nullptr, false);
        SameUser(first);
        next.Create();
        QVERIFY(next.Start());
        QVERIFY(next.Messages().isEmpty());
        QCOMPARE(next.diary().DayBookMemo->toPlainText(), QString());
        next.main().Save1->trigger();
        next.main().Close1->trigger();
        QCOMPARE(next.MemberDiary(other, QDate::currentDate()), QStringLiteral("<none>"));

        next.prompts.QueueFile(own);
        next.prompts.Queue(Answer::No); // not now: it waits encrypted
        next.prompts.Queue(Answer::No);
        next.prompts.QueueModal(Answer::Ok, TypePassword("pw")); // showing it
        next.main().Open1->trigger();
        const auto shown = next.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(2));
        QCOMPARE(shown[1].text, std::string("すでに日記が解凍されていますが、削除しますか？"));
        QCOMPARE(shown[1].buttons, Buttons::YesNoDefaultNo);
        QCOMPARE(next.diary().DayBookMemo->toPlainText(), QStringLiteral("残す日記"));
        QVERIFY(!next.calendar().PassWordCheckBox->isChecked()); // the user's box, untouched
        next.main().Save1->trigger(); // it went to the disk encrypted: no password asked
        QCOMPARE(next.prompts.pendingReplies(), std::size_t(0));
        QVERIFY(!next.ws().HasDayFiles());
        QVERIFY(!ReadFile(own).contains(Cp932FromUtf8("残す日記").c_str()));
        QVERIFY(ReadFile(own).contains("20010513.DAY"));
    }

    // Day files waiting for a book carry their own encryption choice; the
    // password box is the user's choice for new saves, and neither answer
    // to the leftover question changes it.
    void theLeftoverQuestionLeavesThePasswordBoxAlone_data()
    {
        QTest::addColumn<bool>("discard");
        QTest::newRow("いいえ: keep them") << false;
        QTest::newRow("はい: delete them") << true;
    }
    void theLeftoverQuestionLeavesThePasswordBoxAlone()
    {
        QFETCH(bool, discard);
        App first;
        const QString shelf = first.root.path() + "/shelf";
        QVERIFY(QDir().mkpath(shelf));
        const std::string own = (shelf + "/own.KIV").toStdString();
        first.MakeBook(own, { { kMay13, "本の日" } });
        first.prompts.QueueFile(own);
        first.main().Open1->trigger();
        QVERIFY(QDir().rename(shelf, shelf + ".away"));
        first.TypeDiary("待つ日記");
        first.main().Save1->trigger(); // the book is away: the day waits, unencrypted
        first.program.reset();
        QVERIFY(QDir().rename(shelf + ".away", shelf));

        App next({}, nullptr, nullptr, false);
        SameUser(first);
        next.Create();
        QVERIFY(next.Start());
        next.calendar().PassWordCheckBox->setChecked(true);
        next.prompts.QueueFile(own);
        next.prompts.Queue(discard ? Answer::Yes : Answer::No);
        next.main().Open1->trigger();
        QCOMPARE(next.Messages(), QStringList { "すでに日記が解凍されていますが、削除しますか？" });
        QVERIFY(next.calendar().PassWordCheckBox->isChecked());
        if (!discard) {
            // The waiting day goes in as it was written: without a password.
            QCOMPARE(next.diary().DayBookMemo->toPlainText(), QStringLiteral("待つ日記"));
            next.main().Save1->trigger();
            QCOMPARE(next.MemberDiary(own, QDate::currentDate()), QStringLiteral("待つ日記")); // no password asked
        }
        // A day written now is saved as the box says.
        next.Click(kMay12);
        next.TypeDiary("秘密の日記");
        next.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        next.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        next.main().Save1->trigger();
        QCOMPARE(next.prompts.pendingReplies(), std::size_t(0));
        QVERIFY(next.calendar().PassWordCheckBox->isChecked());
        QCOMPARE(next.Messages().size(), 1);
        // Encrypted: reading it asks for the password (cancelled here).
        QCOMPARE(next.MemberDiary(own, kMay12), QStringLiteral("<unreadable>"));
        QCOMPARE(next.Messages().last(), QStringLiteral("格納ファイルにパスワードがかかっています。"));
    }

    // A new password is made sure of before days are encrypted with it:
    // typed twice while the book holds no encrypted day, else tried on one
    // of them, and one that does not open it is used only when the user
    // says so (a book may hold days of several passwords).
    void aNewPasswordIsMadeSureOf()
    {
        App app;
        const std::string book = app.Path("secret.KIV");
        QStringList labels;
        auto label = [&labels](QDialog& d) { labels << d.findChild<QLabel*>("Label1")->text(); };
        app.calendar().PassWordCheckBox->setChecked(true);
        app.Click(kMay12);
        app.TypeDiary("一日目");
        app.prompts.QueueFile(book);
        app.prompts.QueueModal(Answer::Ok, [&](QDialog& d) {
            label(d);
            TypePassword("himitsu")(d);
        });
        app.prompts.QueueModal(Answer::Ok, [&](QDialog& d) {
            label(d);
            QVERIFY(d.findChild<QLineEdit*>()->text().isEmpty()); // typed anew
            TypePassword("himitsi")(d);
        });
        app.prompts.Queue(Answer::Ok); // "パスワードが一致しません。"
        app.prompts.QueueModal(Answer::Ok, TypePassword("himitsu"));
        app.prompts.QueueModal(Answer::Ok, TypePassword("himitsu"));
        app.main().SaveAs1->trigger();
        QCOMPARE(labels, QStringList({ "パスワードの入力 :", "確認のため、もう一度入力 :" }));
        QCOMPARE(app.Messages(), QStringList { "パスワードが一致しません。" });
        QCOMPARE(app.prompts.messages().front().icon, Icon::Error);
        QCOMPARE(app.prompts.pendingReplies(), std::size_t(0));
        app.prompts.QueueModal(Answer::Ok); // reading it: the field still holds the password
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("一日目"));

        // The book holds an encrypted day now: the password is asked once
        // and tried on it. The field still holds the one typed before.
        app.prompts.clear();
        app.Click(kMay13);
        app.TypeDiary("二日目");
        app.prompts.Queue(Answer::Yes);
        app.prompts.QueueModal(Answer::Ok);
        const QDate kMay14(2001, 5, 14);
        app.Click(kMay14);
        QCOMPARE(app.Messages(), QStringList { "変更された日記を保存しますか？" });
        QCOMPARE(ModalCount(app), 1);
        QCOMPARE(app.MemberDiary(book, kMay13), QStringLiteral("二日目"));

        // A password that does not open it: いいえ asks again, はい keeps it.
        const char* const other = "このパスワードでは、日記書庫にある暗号化された日記を開けません。\r\n"
                                  "このパスワードで保存しますか？";
        app.prompts.clear();
        app.Click(kMay13);
        app.diary().DayBookMemo->selectAll();
        app.TypeDiary("三日目");
        app.prompts.Queue(Answer::Yes);
        app.prompts.QueueModal(Answer::Ok, TypePassword("tigau"));
        app.prompts.Queue(Answer::No);
        app.prompts.QueueModal(Answer::Ok, TypePassword("betsu"));
        app.prompts.Queue(Answer::Yes);
        app.Click(kMay12);
        QCOMPARE(app.Messages(), QStringList({ "変更された日記を保存しますか？", other, other }));
        QCOMPARE(app.prompts.messages().at(1).buttons, Buttons::YesNoDefaultNo);
        QVERIFY(app.prompts.messages().at(1).beepBefore);
        QCOMPARE(app.prompts.pendingReplies(), std::size_t(0));
        app.prompts.clear();
        app.prompts.QueueModal(Answer::Ok, TypePassword("betsu"));
        QCOMPARE(app.MemberDiary(book, kMay13), QStringLiteral("三日目"));
        QCOMPARE(ModalCount(app), 1); // himitsu, which opens the other days, does not open it
    }

    // Saving a day that came from a day file and was then emptied removes
    // the book's member and the day file; with nothing left to add, no
    // archive runs and nothing is reported.
    void savingAnEmptiedLeftoverDayRemovesItsMember()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "本の日記" }, { kMay13, "残る日記" } });
        app.ws().SetBookFileName(book);
        app.ws().SetBookOpen(true);
        WriteFile(app.DayFile(kMay12), DayFileBytes("残っていた日記"));
        app.Click(kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("残っていた日記"));
        app.prompts.clear();
        app.diary().DayBookMemo->clear();
        app.main().Save1->trigger();
        QCOMPARE(app.Messages(), QStringList());
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("<none>"));
        QCOMPARE(app.MemberDiary(book, kMay13), QStringLiteral("残る日記"));
        QVERIFY(!app.ws().HasDayFiles());
    }

    // A book name holding a double quote cannot be written into a zip
    // command: it is refused before anything is written.
    void aBookNameWithADoubleQuoteIsRefused()
    {
        App app;
        const std::string book = app.Path("say \"hi\".KIV");
        const std::string refusal = "日記の名前に \" を含めることはできません: " + book + ".";
        app.TypeDiary("日記");
        app.prompts.QueueFile(book);
        app.main().SaveAs1->trigger();
        app.prompts.Queue(Answer::No); // the typed day is not saved first
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        QCOMPARE(app.Messages(),
            QStringList({ QString::fromStdString(refusal), "日記が変更されています。\r\n変更を保存しますか？",
                QString::fromStdString(refusal) }));
        QVERIFY(!dayfiles::Exists(book));
        QVERIFY(app.ws().BookFileName().empty());
        QVERIFY(!app.ws().HasDayFiles());
    }

    // Close and exit that save under a name holding a double quote refuse
    // it as Save As does: nothing is written anywhere, the edits stay shown
    // and the window stays open.
    void closeAndExitRefuseANameWithADoubleQuote_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("close") << "close";
        QTest::newRow("exit") << "exit";
    }
    void closeAndExitRefuseANameWithADoubleQuote()
    {
        QFETCH(QString, command);
        EditedBook edited;
        App& app = edited.app;
        app.main().show();
        const std::string quoted = app.Path("say \"hi\".KIV");
        app.prompts.Queue(Answer::Yes);
        app.prompts.QueueFile(quoted);
        (command == "close" ? app.main().Close1 : app.main().Exit1)->trigger();

        const QStringList shown = app.Messages();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.last(), QString::fromStdString("日記の名前に \" を含めることはできません: " + quoted + "."));
        QVERIFY(!dayfiles::Exists(quoted));
        QVERIFY(app.main().isVisible());
        QCOMPARE(app.ws().BookFileName(), edited.book);
        QCOMPARE(app.ws().Date(), kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("書き直し"));
        QVERIFY(app.ws().Modified());
        QCOMPARE(app.MemberDiary(edited.book, kMay12), QStringLiteral("五月十二日"));
        // The edits are saved as soon as a name is given that can be.
        app.prompts.QueueFile(edited.book);
        app.prompts.Queue(Answer::Yes); // overwrite
        app.main().SaveAs1->trigger();
        QCOMPARE(app.MemberDiary(edited.book, kMay12), QStringLiteral("書き直し"));
    }

    // A save whose add fails leaves every day file where it is, also when
    // the program then ends.
    void aFailedSaveKeepsTheDayFiles()
    {
        App app;
        app.ws().SetBookFileName(app.Path("missing/folder/diary.KIV"));
        app.ws().SetBookOpen(true);
        WriteFile(app.DayFile(kMay12), DayFileBytes("前の日"));
        app.TypeDiary("今日の日記");
        app.main().Save1->trigger();
        QVERIFY(app.Messages().contains(QStringLiteral("圧縮中にエラーが発生しました。")));
        QVERIFY(dayfiles::IsFile(app.DayFile(kMay12)));
        QVERIFY(dayfiles::IsFile(app.DayFile(QDate::currentDate())));
        app.main().show();
        QVERIFY(app.main().close());
        QVERIFY(dayfiles::IsFile(app.DayFile(kMay12)));
        QVERIFY(dayfiles::IsFile(app.DayFile(QDate::currentDate())));
    }

    // A book another writer holds is waited for through the prompts: the
    // window goes on meanwhile, names the holder, and saves when the holder
    // is done; given up, the edits stay.
    void aSaveWaitsForALockedBookOrKeepsTheEdits_data()
    {
        QTest::addColumn<bool>("wait");
        QTest::newRow("until the holder is done") << true;
        QTest::newRow("given up") << false;
    }
    void aSaveWaitsForALockedBookOrKeepsTheEdits()
    {
        QFETCH(bool, wait);
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "十二日" } });
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        auto holder = std::make_shared<WriterLock>();
        std::string error;
        QVERIFY(holder->Take(book, 0, error));
        if (wait)
            app.prompts.QueueWait(Answer::Ok, [holder] { holder->Release(); });
        else
            app.prompts.QueueWait(Answer::Cancel);
        app.TypeDiary("待った日");
        app.main().Save1->trigger();
        const auto& shown = app.prompts.shown();
        const auto waited = std::find_if(shown.begin(), shown.end(),
                                         [](const auto& s) { return s.kind == ScriptedPrompts::Kind::Wait; });
        QVERIFY(waited != shown.end());
        QCOMPARE(QString::fromStdString(waited->text),
                 QStringLiteral("日記はプロセス %1 (tst_app_bookcommands) が書き込み中です。終わるのを待っています…")
                     .arg(getpid()));
        QVERIFY(app.Messages().isEmpty());
        if (wait) {
            QCOMPARE(app.MemberDiary(book, QDate::currentDate()), QStringLiteral("待った日"));
            return;
        }
        QVERIFY(dayfiles::IsFile(app.DayFile(QDate::currentDate())));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("待った日"));
    }

    // The save's error says why the book was not written.
    void aFailedSaveNamesItsCause()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "十二日" } });
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        QVERIFY(::chmod(book.c_str(), 0444) == 0);
        app.TypeDiary("書けない日");
        app.main().Save1->trigger();
        QCOMPARE(app.Messages(),
                 QStringList { QString::fromStdString("圧縮中にエラーが発生しました。\n" + book + " は読み取り専用です。") });
        QVERIFY(dayfiles::IsFile(app.DayFile(QDate::currentDate())));
    }
};

QTEST_MAIN(BookCommandsTest)
#include "tst_BookCommands.moc"
