// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include <QScopeGuard>
#include <QStatusBar>

#include <QTableWidget>

#include <algorithm>
#include <unistd.h>

using namespace kiv;
using namespace kiv::testing;

namespace {
const QDate kMay12(2001, 5, 12);
const QDate kMay13(2001, 5, 13);
const QString kMarker = QStringLiteral("  ( 記入あり )");
} // namespace

class WorkspaceTest : public QObject {
    Q_OBJECT

private slots:
    void startsEmptyOnToday()
    {
        App app;
        QVERIFY(app.Start());
        QCOMPARE(app.main().windowTitle(), QStringLiteral("ＫＩＶの日記 ( 開いている日記なし  )"));
        QCOMPARE(app.schedule().windowTitle(), QStringLiteral("今日の予定"));
        QCOMPARE(app.diary().windowTitle(), QStringLiteral("今日の日記"));
        QCOMPARE(app.schedule().Cell(0, 0), QString(3, ' ') + "時間");
        QCOMPARE(app.schedule().Cell(0, 1), QString(6, ' ') + "8:00");
        QCOMPARE(app.schedule().Cell(0, 11), QString(5, ' ') + "18:00");
        QCOMPARE(app.schedule().Cell(1, 0), QString(44, ' ') + "記事");
        QVERIFY(!app.ws().EditorsHaveContent());
        QVERIFY(!app.ws().Modified());
        QCOMPARE(app.ws().Date(), QDate::currentDate());
        QCOMPARE(app.calendar().SelectedDate(), QDate::currentDate());
        QCOMPARE(app.calendar().DiaryComboBox->count(), 0);
        QVERIFY(!app.ws().BookOpen());
        QCOMPARE(app.ws().WorkingDirectory(), app.WorkDir());
        QVERIFY(app.prompts.messages().empty());
        QCOMPARE(app.main().pos(), QPoint(20, 108));
        QCOMPARE(app.main().frameGeometry().size(), QSize(544, 375));
        QCOMPARE(app.main().StatusBar1->height(), 19);
        QCOMPARE(app.ws().DayFilePath(QDate(2001, 5, 5)), app.WorkDir() + "/20010505.DAY");
        QCOMPARE(app.ws().DayFilePath(QDate(2010, 12, 31)), app.WorkDir() + "/20101231.DAY");
    }

    void savingOnLeaveStoresAddsAndListsTheDay()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "古い日記" } });
        app.ws().SetBookFileName(book);
        app.ws().SetBookOpen(true);
        app.Click(kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("古い日記"));
        QVERIFY(!app.ws().Modified());

        app.diary().DayBookMemo->selectAll();
        app.TypeDiary("新しい日記");
        app.diary().WeatherEdit->setText("晴れ");
        app.prompts.Queue(Answer::Yes);
        app.Click(kMay13);

        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, std::string("変更された日記を保存しますか？"));
        QCOMPARE(shown[0].buttons, Buttons::YesNo);
        QCOMPARE(shown[0].icon, Icon::Warning);
        QVERIFY(!shown[0].beepBefore);
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("新しい日記"));
        QVERIFY(!dayfiles::Exists(app.DayFile(kMay12)));
        QCOMPARE(app.ws().Date(), kMay13);
        QVERIFY(!app.ws().Modified());
        QCOMPARE(app.calendar().DiaryComboBox->count(), 1);
        QCOMPARE(app.calendar().DiaryComboBox->itemText(0), QStringLiteral("2001/05/12"));
    }

    void answeringNoDropsTheEditsAndLeavesTheMember()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "本の日記" } });
        app.ws().SetBookFileName(book);
        app.ws().SetBookOpen(true);
        app.Click(kMay12);
        app.TypeDiary("追記");
        app.prompts.Queue(Answer::No);
        app.Click(kMay13);
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("本の日記"));
        QVERIFY(!dayfiles::Exists(app.DayFile(kMay12)));
        QVERIFY(app.diary().DayBookMemo->toPlainText().isEmpty());
        app.Click(kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("本の日記"));
    }

    void theShownDateAsksNothingAndOnlyBringsItsWindowForward()
    {
        App app;
        app.ws().SetBookFileName(app.Path("named.KIV")); // the calendar lets the edit pass
        WriteFile(app.DayFile(kMay12), DayFileBytes("日記"));
        app.Click(kMay12);
        app.Window(app.schedule());
        QCOMPARE(app.TopChild(), &app.schedule());
        app.diary().WeatherEdit->setText("雨");
        QVERIFY(app.ws().Modified());
        app.Click(kMay12);
        QVERIFY(app.prompts.messages().empty());
        QVERIFY(app.ws().Modified());
        QCOMPARE(app.diary().WeatherEdit->text(), QStringLiteral("雨"));
        QCOMPARE(app.TopChild(), &app.diary());
    }

    void aDayFileIsShownBeforeTheBooksMember()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "本" } });
        WriteFile(app.DayFile(kMay12), DayFileBytes("ファイル"));
        app.ws().SetBookFileName(book);
        app.ws().SetBookOpen(true);
        app.Click(kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("ファイル"));
    }

    void noMemberIsReadWithoutAnOpenBook()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "本" } });
        app.ws().SetBookFileName(book);
        app.Click(kMay12);
        QVERIFY(!app.ws().EditorsHaveContent());
        QVERIFY(app.prompts.messages().empty());
    }

    void markersCaptionsAndTheWindowBroughtForward()
    {
        App app;
        TDayBook both;
        both.SetSchedule(3, Rec("会議"));
        both.Diary = Rec("日記");
        TDayBook scheduleOnly;
        scheduleOnly.ScheduleMemo = Rec("メモ");
        TDayBook weatherOnly;
        weatherOnly.Weather = Rec("晴れ");
        weatherOnly.Temperature = Rec("20度");
        const QDate kMay14(2001, 5, 14);
        for (auto [date, day] : { std::pair { kMay12, &both }, { kMay13, &scheduleOnly }, { kMay14, &weatherOnly } }) {
            MemoryStream stream;
            day->Write(stream);
            stream.SaveToFile(app.DayFile(date));
        }
        // The captions write the date as the date list does, whatever the locale.
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
        const QString may12 = "2001/05/12";
        app.Click(kMay12);
        QCOMPARE(app.schedule().windowTitle(), may12 + "の予定" + kMarker);
        QCOMPARE(app.diary().windowTitle(), may12 + "の日記" + kMarker);
        QCOMPARE(app.schedule().Cell(1, 3), QStringLiteral("会議"));
        QCOMPARE(app.TopChild(), &app.diary());

        // Leaving unmodified days deletes their day files: put them back.
        app.Click(kMay13);
        QCOMPARE(app.diary().windowTitle(), QStringLiteral("2001/05/13の日記"));
        QCOMPARE(app.schedule().windowTitle().right(kMarker.size()), kMarker);
        QCOMPARE(app.TopChild(), &app.schedule());
        QVERIFY(!dayfiles::Exists(app.DayFile(kMay12)));

        app.Window(app.picture());
        app.Click(kMay14);
        QVERIFY(!app.schedule().windowTitle().endsWith(kMarker));
        QVERIFY(!app.diary().windowTitle().endsWith(kMarker));
        QCOMPARE(app.TopChild(), &app.picture());

        app.Click(QDate::currentDate());
        QCOMPARE(app.schedule().windowTitle(), QStringLiteral("今日の予定"));
        QCOMPARE(app.diary().windowTitle(), QStringLiteral("今日の日記"));
    }

    void unnamedDiaryGuard()
    {
        App app;
        app.TypeDiary("書きかけ");
        app.prompts.Queue(Answer::Yes);
        app.Click(kMay12);
        auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text,
            std::string("日記は変更されていますが、日記の名前がついていません。\r\n名前を付けて保存しますか？"));
        QVERIFY(shown[0].beepBefore);
        QCOMPARE(app.calendar().SelectedDate(), QDate::currentDate());
        QCOMPARE(app.ws().Date(), QDate::currentDate());
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("書きかけ"));
        QVERIFY(app.ws().Modified());

        app.prompts.Queue(Answer::No);
        app.Click(kMay12);
        QCOMPARE(app.prompts.messages().size(), std::size_t(2));
        QVERIFY(app.diary().DayBookMemo->toPlainText().isEmpty());
        QVERIFY(!app.ws().Modified());
        QCOMPARE(app.ws().Date(), kMay12);
    }

    void modifiedFlagFollowsEveryEditButNotTheProgramsOwn()
    {
        App app;
        QTest::keyClick(app.diary().TemperatureEdit, 'x');
        QVERIFY(app.ws().Modified());
        QTest::keyClick(app.diary().TemperatureEdit, Qt::Key_Backspace);
        QVERIFY(app.ws().Modified());

        app.ws().SetModified(false);
        app.schedule().ScheduleStringGrid->setFocus();
        QTest::keyClick(app.schedule().ScheduleStringGrid, Qt::Key_Down);
        QVERIFY(app.ws().Modified());

        TDayBook day;
        day.ScheduleMemo = Rec("予定");
        day.Diary = Rec("日記");
        MemoryStream stream;
        day.Write(stream);
        stream.SaveToFile(app.DayFile(kMay12));
        app.ws().SetModified(false);
        app.Click(kMay12);
        QVERIFY(app.ws().EditorsHaveContent());
        QVERIFY(!app.ws().Modified());
    }

    void storingAnEmptyDayWritesNothing()
    {
        App app;
        app.ws().SetModified(true);
        app.ws().StoreDay(kMay12);
        QVERIFY(!dayfiles::Exists(app.DayFile(kMay12)));
        QVERIFY(app.ws().Modified());
        app.schedule().SetCell(1, 5, " ");
        QVERIFY(app.ws().EditorsHaveContent());
    }

    // A failed add must not cost the user the day: its file stays, is shown
    // again, survives leaving the date unmodified and the program's end.
    void aFailedAddKeepsTheDayFile()
    {
        App app;
        app.ws().SetBookFileName(app.Path("missing/folder/diary.KIV"));
        app.Click(kMay12);
        app.TypeDiary("大事な日記");
        app.prompts.Queue(Answer::Yes);
        app.Click(kMay13);
        QVERIFY(app.Messages().contains(QStringLiteral("圧縮中にエラーが発生しました。")));
        QVERIFY(dayfiles::IsFile(app.DayFile(kMay12)));

        app.Click(kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("大事な日記"));
        app.Click(kMay13);
        QVERIFY(dayfiles::IsFile(app.DayFile(kMay12)));
        app.main().show();
        QVERIFY(app.main().close());
        QVERIFY(dayfiles::IsFile(app.DayFile(kMay12)));
    }

    // A day file that cannot be read is set aside and named in the error,
    // and the book's copy of the day is shown in its place: an edit then
    // changes that copy, never replaces it. Without a copy in the book the
    // day stays empty, unmodified, and nothing is saved over the book.
    void aDamagedDayFileGivesWayToTheBooksCopy()
    {
        const QDate today = QDate::currentDate();
        const QDate other = today.addDays(today.day() == 1 ? 1 : -1);
        const QDate absent = today.addDays(today.day() <= 2 ? 2 : -2);
        App maker;
        const std::string book = maker.Path("book.KIV");
        maker.MakeBook(book, { { today, "GOOD-DAY" } });
        TDayBook full;
        full.Diary = Rec("OTHER-DAY");
        full.Temperature = Rec("12度");
        MemoryStream fullBytes;
        full.Write(fullBytes);
        WriteFile(maker.DayFile(other), fullBytes.Bytes());
        QVERIFY(archive::AddDayFile(book, maker.DayFile(other)));

        App app({ QString::fromStdString(book) }, nullptr, nullptr, false);
        std::vector<std::uint8_t> damaged = DayFileBytes("x");
        const std::uint8_t shortText[] = { 0x06, 0x01, 'x' };
        const std::uint8_t claims2GB[] = { 0x0C, 0xff, 0xff, 0xff, 0x7f };
        auto at = std::search(damaged.begin(), damaged.end(), std::begin(shortText), std::end(shortText));
        QVERIFY(at != damaged.end());
        damaged.insert(damaged.erase(at, at + 2), std::begin(claims2GB), std::end(claims2GB));
        auto dayFile = [&](const QDate& date) { return app.WorkDir() + date.toString("/yyyyMMdd.DAY").toStdString(); };
        for (const QDate& date : { today, other, absent })
            WriteFile(dayFile(date), damaged);
        app.Create();
        app.prompts.Queue(Answer::No); // keep the extracted diaries
        QVERIFY(app.Start());
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("GOOD-DAY"));
        QVERIFY(!app.ws().Modified());

        app.Click(other);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("OTHER-DAY"));
        QCOMPARE(app.diary().TemperatureEdit->text(), QStringLiteral("12度"));
        QVERIFY(!app.ws().Modified());
        App::Type(app.diary().WeatherEdit, "晴れ");
        app.prompts.Queue(Answer::Yes);
        app.Click(absent);
        TDayBook saved;
        MemoryStream stream;
        QVERIFY(archive::ExtractDay(book, dayFile(other), stream));
        stream.SetPosition(0);
        saved.Read(stream);
        QCOMPARE(saved.Weather, Rec("晴れ"));
        QCOMPARE(saved.Diary, Rec("OTHER-DAY"));
        QCOMPARE(saved.Temperature, Rec("12度"));

        // No copy in the book: empty, unmodified, nothing to save.
        QVERIFY(!app.ws().EditorsHaveContent());
        QVERIFY(!app.ws().Modified());
        app.Click(today);
        QCOMPARE(app.MemberDiary(book, absent), QStringLiteral("<none>"));
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("GOOD-DAY"));

        const QStringList shown = app.Messages();
        QCOMPARE(shown.size(), 5);
        QCOMPARE(shown[3], QStringLiteral("変更された日記を保存しますか？"));
        for (const auto& [date, index] : { std::pair { today, 1 }, { other, 2 }, { absent, 4 } }) {
            const std::string aside = dayFile(date) + ".damaged";
            QVERIFY2(shown.at(index).endsWith(
                         QString::fromStdString("\r\n読めない日記ファイルを " + aside + " として残しました.")),
                qPrintable(shown.at(index)));
            QVERIFY(!dayfiles::Exists(dayFile(date)));
            QCOMPARE(ReadFile(aside), QByteArray(reinterpret_cast<const char*>(damaged.data()), qsizetype(damaged.size())));
        }
    }

    // A day file that does not read, when one was set aside before, goes
    // beside it: the earlier copy, or whatever has its name, stays.
    void aSecondDamagedCopyKeepsTheFirst_data()
    {
        QTest::addColumn<QString>("first"); // what already has the name
        QTest::newRow("an earlier copy") << "file";
        QTest::newRow("a link to nothing") << "link";
    }
    void aSecondDamagedCopyKeepsTheFirst()
    {
        QFETCH(QString, first);
        App maker;
        const std::string book = maker.Path("book.KIV");
        maker.MakeBook(book, { { QDate::currentDate(), "GOOD-DAY" } });
        App app({ QString::fromStdString(book) }, nullptr, nullptr, false);
        const std::string dayFile = app.WorkDir() + QDate::currentDate().toString("/yyyyMMdd.DAY").toStdString();
        const std::string aside = dayFile + ".damaged";
        const std::vector<std::uint8_t> earlier = { 'T', 'P', 'F', '0', 1 };
        if (first == "file")
            WriteFile(aside, earlier);
        else
            QVERIFY(::symlink("nowhere", aside.c_str()) == 0);
        const std::vector<std::uint8_t> damaged = { 'T', 'P', 'F', '0', 2 };
        WriteFile(dayFile, damaged);
        app.Create();
        app.prompts.Queue(Answer::No);
        QVERIFY(app.Start());

        const QStringList shown = app.Messages();
        QVERIFY2(!shown.isEmpty(), "no error shown");
        QVERIFY2(shown.last().endsWith(
            QString::fromStdString("\r\n読めない日記ファイルを " + aside + "-2 として残しました.")),
            qPrintable(shown.join('|')));
        QCOMPARE(ReadFile(aside + "-2"), QByteArray("TPF0\x02"));
        if (first == "file")
            QCOMPARE(ReadFile(aside), QByteArray("TPF0\x01"));
        else
            QVERIFY(QFileInfo(QString::fromStdString(aside)).isSymLink());
        QVERIFY(!dayfiles::Exists(dayFile));
    }

    // Saving a day whose every entry was removed removes it from the book.
    void savingAnEmptiedDayRemovesItsMember()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay12, "消す日記" }, { kMay13, "残る日記" } });
        app.ws().SetBookFileName(book);
        app.ws().SetBookOpen(true);
        app.Click(kMay12);
        app.diary().DayBookMemo->selectAll();
        QTest::keyClick(app.diary().DayBookMemo, Qt::Key_Delete);
        app.prompts.Queue(Answer::Yes);
        app.Click(kMay13);
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("<none>"));
        QCOMPARE(app.MemberDiary(book, kMay13), QStringLiteral("残る日記"));
        QCOMPARE(app.calendar().DiaryComboBox->count(), 1);
        QCOMPARE(app.calendar().DiaryComboBox->itemText(0), QStringLiteral("2001/05/13"));
    }
};

QTEST_MAIN(WorkspaceTest)
#include "tst_Workspace.moc"
