// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "Cp932.h"
#include "HandMadeZip.h"
#include "KivbookRun.h"
#include "PngPixels.h"
#include "ScriptedPrompts.h"
#include "TDayBook.h"

#include <QCryptographicHash>
#include <QDate>
#include <QtEndian>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>

using namespace kiv;

namespace {

QByteArray Hex(const char* bytes)
{
    return QByteArray(bytes).toHex();
}

// A 2 x 2 picture, 24 bits, rows bottom-up and padded to four bytes:
// red and green on top, blue and white below.
QByteArray TwoByTwoBmp()
{
    QByteArray bmp = QByteArray::fromHex("424d46000000000000003600000028000000"
                                         "020000000200000001001800000000001000000000000000000000000000000000000000");
    bmp += QByteArray::fromHex("ff0000ffffff0000"); // blue, white, padding
    bmp += QByteArray::fromHex("0000ff00ff000000"); // red, green, padding
    return bmp;
}

} // namespace

// The built kivbook, run on books in a temporary folder.
class KivbookTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    QTemporaryDir locales; // ja_JP.UTF-8, when the system has none
    QString book;
    QString temporaryFolder; // the commands' TMPDIR

    QString Path(const QString& name) const { return temp.filePath(name); }

    // Variables set for one run; an empty value removes the variable.
    using Settings = QList<std::pair<QString, QString>>;

    Run Kivbook(const QStringList& arguments, const QByteArray& input = {}, const Settings& settings = {})
    {
        QProcess process;
        process.setWorkingDirectory(temp.path());
        // Temporary files go to a folder of the test's own, to see them go.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", temporaryFolder);
        // English unless the test asks for another language, whatever the
        // locale the tests run under.
        for (const auto& [name, value] : plainC + settings) {
            if (value.isEmpty())
                environment.remove(name);
            else
                environment.insert(name, value);
        }
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KIVBOOK_PATH), arguments);
        if (!process.waitForStarted())
            qFatal("kivbook does not start");
        const Run run = Finish(process, input);
        // In the sanitizer build a finding ends kivbook with status 1 too.
        if (run.err.contains("Sanitizer") || run.err.contains("runtime error:"))
            qFatal("kivbook %s: %s", qPrintable(arguments.join(' ')), run.err.constData());
        return run;
    }

    // Puts a day and fails the test when that does not work.
    void Put(const QString& date, const QStringList& options)
    {
        Run run = Kivbook(QStringList { "put", book, date } + options);
        QVERIFY2(run.status == 0, run.err.constData());
    }

    // Adds files of arbitrary content to the book through the program's own
    // add operation.
    void AddMember(const QString& name, const QByteArray& bytes)
    {
        QDir(temp.path()).mkpath("work");
        WriteFile(Path("work/" + name), bytes);
        ScriptedPrompts prompts;
        archive::Host host;
        host.prompts = &prompts;
        host.workingDirectory = Path("work").toStdString();
        archive::SetHost(host);
        QVERIFY(archive::AddDayFile(book.toStdString(), name.toStdString()));
        QVERIFY(prompts.shown().empty());
        archive::SetHost({});
    }

    // The member's bytes as the command-line unzip tool reads them.
    QByteArray Unzipped(const QString& member, const QString& password = {})
    {
        const QString unzip = QStandardPaths::findExecutable("unzip");
        if (unzip.isEmpty())
            return "(no unzip)";
        QProcess process;
        QStringList arguments { "-p" };
        if (!password.isEmpty())
            arguments << "-P" << password;
        process.start(unzip, arguments << book << member);
        process.waitForFinished();
        return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray("(unzip failed)");
    }


    // Day files for `count` days from 2001-01-01 in folder `work`, their
    // diaries cycling through a few texts; the member names, ascending.
    QStringList WriteDays(int count)
    {
        static const char* const diaries[] = { "rain and a walk", "sunny", "rain", "a walk in the park", "snow",
            "\x89\x4a\x82\xcc\x93\xfa", "Rain", "walk" };
        QDir(temp.path()).mkpath("work");
        QStringList names;
        QDate date(2001, 1, 1);
        for (int i = 0; i < count; ++i, date = date.addDays(1)) {
            TDayBook day;
            day.Diary = diaries[i % 8];
            day.Weather = i % 3 == 0 ? "rain" : "fine";
            MemoryStream stream;
            day.Write(stream);
            names << date.toString("yyyyMMdd") + ".DAY";
            stream.SaveToFile(Path("work/" + names.back()).toStdString());
        }
        return names;
    }

    // The day files of WriteDays added to the book by the program's own
    // add operation, and removed.
    void AddDays(int count)
    {
        const QStringList names = WriteDays(count);
        ScriptedPrompts prompts;
        archive::Host host;
        host.prompts = &prompts;
        host.workingDirectory = Path("work").toStdString();
        archive::SetHost(host);
        QVERIFY(archive::AddDayFiles(book.toStdString(), false));
        archive::SetHost({});
        for (const QString& name : names)
            QFile::remove(Path("work/" + name));
    }
    // The environment of a run under a Japanese locale, and of one under C.
    Settings japanese { { "LC_ALL", "" }, { "LC_MESSAGES", "" }, { "LANGUAGE", "" }, { "LANG", "ja_JP.UTF-8" } };
    const Settings plainC { { "LC_ALL", "" }, { "LC_MESSAGES", "" }, { "LANGUAGE", "" }, { "LANG", "C" } };

private slots:
    void initTestCase()
    {
        if (locale_t ja = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", locale_t {})) {
            freelocale(ja);
            return;
        }
        // A fresh system knows only C: the locale is made from the C
        // library's sources (the locales package) into the test's folder.
        QProcess localedef;
        localedef.start("localedef", { "-c", "-i", "ja_JP", "-f", "UTF-8", locales.filePath("ja_JP.UTF-8") });
        QVERIFY2(localedef.waitForFinished(300000), "localedef does not end");
        QVERIFY2(QFileInfo::exists(locales.filePath("ja_JP.UTF-8/LC_CTYPE")),
            qPrintable("no ja_JP.UTF-8 locale (is the locales package installed?): "
                + localedef.readAllStandardError()));
        japanese.append({ "LOCPATH", locales.path() });
    }

    void init()
    {
        QVERIFY(temp.isValid());
        book = Path("日記 帳.KIV");
        QDir dir(temp.path());
        dir.removeRecursively();
        QDir().mkpath(Path("tmp"));
        temporaryFolder = Path("tmp");
    }

    void cleanup() { QVERIFY(QDir(Path("tmp")).isEmpty()); }

    void putThenShowHexGivesTheStoredBytes()
    {
        // ～ is FULLWIDTH TILDE, 81 60 in code page 932 (not the wave dash).
        WriteFile(Path("diary.txt"), "今日\n明日～");
        WriteFile(Path("memo.txt"), QByteArray(256, 'm'));
        Put("2001/03/15",
            { "--weather", "晴れ", "--temperature", "25", "--diary-file", "diary.txt", "--memo-file", "memo.txt",
                "--schedule", "8=会議", "--schedule", "18=帰宅" });

        Run run = Kivbook({ "show", book, "20010315", "--hex" });
        QCOMPARE(run.status, 0);
        QByteArray expected = "8:00 " + Hex("\x89\xef\x8b\x63") + "\n";
        for (int hour = 9; hour <= 17; ++hour)
            expected += QByteArray::number(hour) + ":00\n";
        expected += "18:00 " + Hex("\x8b\x41\x91\xee") + "\n";
        expected += "memo: " + QByteArray(256, 'm').toHex() + "\n";
        expected += "weather: " + Hex("\x90\xb0\x82\xea") + "\n";
        expected += "temperature: 3235\n";
        expected += "diary: " + Hex("\x8d\xa1\x93\xfa\r\n\x96\xbe\x93\xfa\x81\x60") + "\n";
        expected += "picture: none\n";
        QCOMPARE(run.out, expected);
        QCOMPARE(run.err, QByteArray());

        // The member is the day file, byte for byte, for any zip reader.
        Put("2001/03/16", { "--weather", "晴れ" });
        QCOMPARE(Unzipped("20010316.DAY"),
            QByteArray::fromHex("54504630"
                                "0854446179426f6f6b"
                                "00"
                                "07576561746865720604"
                                "90b082ea"
                                "0000"));
    }

    // A plain book is read and written with zlib alone: libzip, with the
    // crypto library it brings, is loaded for writing encrypted days; libpng
    // only by export.
    void librariesAreLoadedOnlyWhenNeeded()
    {
        auto loadsLibzip = [&](const QStringList& arguments) {
            const Run run = Kivbook(arguments, {}, { { "LD_DEBUG", "files" } });
            if (run.err.contains("file=libpng"))
                qFatal("%s loads libpng", qPrintable(arguments.join(' ')));
            return run.status == 0 && run.err.contains("file=libzip.so");
        };
        QVERIFY(!loadsLibzip({ "put", book, "20010315", "--weather", "晴れ" }));
        QVERIFY(!loadsLibzip({ "put", book, "20010315", "--weather", "雨" }));
        QVERIFY(!loadsLibzip({ "show", book, "20010315" }));
        QVERIFY(!loadsLibzip({ "list", book }));
        QVERIFY(!loadsLibzip({ "search", book, "雨" }));
        WriteFile(Path("password"), "pw\n");
        QVERIFY(loadsLibzip({ "put", book, "20010316", "--weather", "雨", "--encrypt", "--password-file", "password" }));
        // The traditional encryption is read without it.
        QVERIFY(!loadsLibzip({ "search", book, "雨", "--password-file", "password" }));
    }

    void showJsonAndText()
    {
        WriteFile(Path("diary.txt"), "\"quoted\"\ttab\nline\x1b[2J\x07");
        WriteFile(Path("photo.JPEG"), "\xff\xd8 not really a JPEG \xff\xd9");
        Put("2001/03/15", { "--diary-file", "diary.txt", "--picture", "photo.JPEG", "--schedule", "12=昼" });
        const QByteArray sha
            = QCryptographicHash::hash(ReadFile(Path("photo.JPEG")), QCryptographicHash::Sha256).toHex();

        Run json = Kivbook({ "show", book, "2001/3/15", "--json" });
        QCOMPARE(json.status, 0);
        QCOMPARE(json.out,
            "{\"date\":\"2001/03/15\",\"schedule\":[\"\",\"\",\"\",\"\",\"昼\",\"\",\"\",\"\",\"\",\"\",\"\"],"
            "\"scheduleMemo\":\"\",\"weather\":\"\",\"temperature\":\"\","
            "\"diary\":\"\\\"quoted\\\"\\ttab\\nline\\u001b[2J\\u0007\",\"picture\":{\"kind\":2,\"size\":23,\"sha256\":"
            "\"" + sha
                + "\"}}\n");

        Run text = Kivbook({ "show", book, "2001/03/15" });
        QCOMPARE(text.status, 0);
        QVERIFY(text.out.contains("\n12:00 昼\n"));
        // Control characters never reach the terminal as they are.
        QVERIFY(text.out.contains("\ndiary:\n  \"quoted\"\ttab\n  line\\x1b[2J\\x07\n"));
        QVERIFY(text.out.endsWith("picture: JPEG, 23 bytes\n"));
    }

    // A diary of twelve years, 2013 to 2024, with gaps: the days of the span
    // the book holds, newest first; 02/29 in leap years only.
    void yearsGivesTheHeldDaysNewestFirst()
    {
        QDir(temp.path()).mkpath("work");
        QStringList names;
        for (const char* key : { "20250301", "20240301", "20230301", "20210301", "20180301", "20150301", "20130301",
                 "20240229", "20160229", "20240228" }) {
            TDayBook day;
            day.Diary = Cp932FromUtf8(std::string(key) + " 一行目\r\n二行目");
            day.Weather = Cp932FromUtf8("晴れ");
            MemoryStream stream;
            day.Write(stream);
            names << QString(key) + ".DAY";
            stream.SaveToFile(Path("work/" + names.back()).toStdString());
        }
        ScriptedPrompts prompts;
        archive::Host host;
        host.prompts = &prompts;
        host.workingDirectory = Path("work").toStdString();
        archive::SetHost(host);
        QVERIFY(archive::AddDayFiles(book.toStdString(), false));
        archive::SetHost({});
        for (const QString& name : names)
            QFile::remove(Path("work/" + name));
        WriteFile(Path("photo.jpg"), "\xff\xd8 jpeg \xff\xd9");
        WriteFile(Path("memo.txt"), "持ち物");
        Put("2023/03/01", { "--temperature", "12℃", "--memo-file", "memo.txt", "--schedule", "9=朝会",
                              "--schedule", "18=英会話", "--picture", "photo.jpg" });

        Run json = Kivbook({ "years", book, "2024/03/01", "--years", "12", "--json" });
        QCOMPARE(json.status, 0);
        const QList<QByteArray> lines = json.out.split('\n');
        QCOMPARE(lines.size(), 9); // [, six days, ], the end
        QCOMPARE(lines.front(), "[");
        QCOMPARE(lines[1],
            "{\"date\":\"2024/03/01\",\"weather\":\"晴れ\",\"temperature\":\"\",\"memo\":\"\",\"schedule\":{},"
            "\"diary\":\"20240301 一行目\\n二行目\",\"picture\":null},");
        QCOMPARE(lines[2],
            "{\"date\":\"2023/03/01\",\"weather\":\"\",\"temperature\":\"12℃\",\"memo\":\"持ち物\","
            "\"schedule\":{\"9:00\":\"朝会\",\"18:00\":\"英会話\"},\"diary\":\"\","
            "\"picture\":{\"kind\":2,\"size\":10}},");
        QList<QByteArray> dates;
        for (const QByteArray& line : lines.mid(1, 6))
            dates << line.mid(9, 10);
        QCOMPARE(dates, (QList<QByteArray> { "2024/03/01", "2023/03/01", "2021/03/01", "2018/03/01", "2015/03/01",
                            "2013/03/01" }));
        QCOMPARE(lines[7], "]");

        Run leap = Kivbook({ "years", book, "20240229", "--years", "12" });
        QCOMPARE(leap.status, 0);
        QVERIFY(leap.out.startsWith("2024/02/29\n8:00\n"));
        QVERIFY(leap.out.contains("\n\n2020/02/29\nthe book holds no day of this date\n\n2016/02/29\n8:00\n"));
        QVERIFY(leap.out.endsWith("diary:\n  20160229 一行目\n  二行目\npicture: none\n"));
        QCOMPARE(leap.out.count("02/29\n"), 3);
        QCOMPARE(Kivbook({ "years", book, "20240229", "--years", "12", "--json" }).out.count("\"date\""), 2);

        // The first year of a span of one; a span without any day.
        QCOMPARE(Kivbook({ "years", book, "2024/02/28", "--years", "1", "--json" }).out.count("\"date\""), 1);
        QCOMPARE(Kivbook({ "years", book, "2012/03/01", "--json" }).out, QByteArray("[]\n"));

        Run notADate = Kivbook({ "years", book, "2023/02/29" });
        QCOMPARE(notADate.status, 1);
        QCOMPARE(notADate.out, QByteArray());
        QCOMPARE(notADate.err, QByteArray("kivbook: '2023/02/29' is not a date (yyyy/mm/dd or yyyymmdd)\n"));
        QCOMPARE(Kivbook({ "years", book, "2024/03/01", "--years", "0" }).status, 2);
    }

    void putReplacesAndDeleteRemoves()
    {
        Put("2001/03/15", { "--weather", "雨" });
        Put("2001/03/16", { "--weather", "雪" });
        Put("2001/03/15", { "--temperature", "3" });
        Run show = Kivbook({ "show", book, "2001/03/15" });
        QVERIFY(show.out.contains("\nweather:\n"));
        QVERIFY(show.out.contains("\ntemperature: 3\n"));
        QCOMPARE(Kivbook({ "list", book }).out, QByteArray("2001/03/15\n2001/03/16\n"));

        QCOMPARE(Kivbook({ "delete", book, "2001/03/15" }).status, 0);
        QCOMPARE(Kivbook({ "list", book }).out, QByteArray("2001/03/16\n"));
        Run again = Kivbook({ "delete", book, "2001/03/15" });
        QCOMPARE(again.status, 1);
        QVERIFY(again.err.contains("holds no day 2001/03/15"));
        QCOMPARE(Kivbook({ "show", book, "2001/03/15" }).status, 1);
    }

    void putCleansUpAfterKilledRunsAndNeedsNoTemporaryFolder()
    {
        // A killed put's folder, holding a plain-text day.
        QVERIFY(QDir().mkpath(Path("tmp/kivbook-Killed")));
        WriteFile(Path("tmp/kivbook-Killed/20010314.DAY"), "TPF0");
        Put("2001/03/15", { "--weather", "雨" });
        QVERIFY(!QFile::exists(Path("tmp/kivbook-Killed")));

        temporaryFolder = Path("missing");
        Put("2001/03/16", { "--weather", "雪" });
        QCOMPARE(Kivbook({ "list", book }).out, QByteArray("2001/03/15\n2001/03/16\n"));
    }

    void failedWritesLeaveTheBookAsItWas()
    {
        WriteFile(book, "not a zip archive");
        Run put = Kivbook({ "put", book, "2001/03/15", "--weather", "晴れ" });
        QCOMPARE(put.status, 1);
        QVERIFY(put.err.startsWith("kivbook: An error occurred while compressing.\n"));
        QVERIFY(put.err.count('\n') >= 2); // and what the Zip library said
        QCOMPARE(ReadFile(book), QByteArray("not a zip archive"));
        QCOMPARE(Kivbook({ "delete", book, "2001/03/15" }).status, 1);
        QCOMPARE(ReadFile(book), QByteArray("not a zip archive"));
    }

    void textCodePage932CannotHoldWritesNothing()
    {
        Run refused = Kivbook({ "put", book, "2001/03/15", "--weather", "☀" });
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains("--weather") && refused.err.contains("U+2600"), refused.err.constData());
        QVERIFY(!QFile::exists(book));

        Put("2001/03/15", { "--weather", "晴れ" });
        const QByteArray before = ReadFile(book);
        WriteFile(Path("diary.txt"), "한국어");
        Run fromFile = Kivbook({ "put", book, "2001/03/15", "--diary-file", "diary.txt" });
        QCOMPARE(fromFile.status, 1);
        QVERIFY(fromFile.err.contains("U+D55C"));
        QCOMPARE(ReadFile(book), before);
        QCOMPARE(Kivbook({ "search", book, "晴れ☀" }).status, 1);
    }

    void listEqualsTheDateList()
    {
        for (const char* date : { "2001/12/24", "1999/01/01", "2001/02/03", "20000229" })
            Put(date, { "--weather", date });
        AddMember("abc.DAY", "junk");

        ScriptedPrompts prompts;
        archive::Host host;
        host.prompts = &prompts;
        archive::SetHost(host);
        const std::string dateList = archive::DateListText(book.toStdString());
        archive::SetHost({});

        Run run = Kivbook({ "list", book });
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.toStdString(), LfFromCrLf(dateList));
        QCOMPARE(run.out, QByteArray("1999/01/01\n2000/02/29\n2001/02/03\n2001/12/24\nabc\n"));
    }

    void searchGivesTheResultLines_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("one keyword, in diary and schedule")
            << QStringList { "rain" } << QByteArray("2001/02/03\n2001/12/24\nDays found: 2\n");
        QTest::newRow("case counts") << QStringList { "Rain" } << QByteArray("2001/05/05\nDays found: 1\n");
        QTest::newRow("both keywords") << QStringList { "rain", "walk" }
                                       << QByteArray("2001/02/03\n2001/12/24\nDays found: 2\n");
        QTest::newRow("one of two missing") << QStringList { "rain", "snow" } << QByteArray("Days found: 0\n");
        QTest::newRow("three keywords") << QStringList { "walk", "park", "rain" }
                                        << QByteArray("2001/02/03\nDays found: 1\n");
        QTest::newRow("across the joining space")
            << QStringList { "n w" } << QByteArray("2001/12/24\nDays found: 1\n");
        QTest::newRow("trail byte is no match") << QStringList { "\\" } << QByteArray("Days found: 0\n");
        QTest::newRow("double-byte keyword") << QStringList { "表" } << QByteArray("2001/05/05\nDays found: 1\n");
        QTest::newRow("memo and temperature")
            << QStringList { "メモ", "30" } << QByteArray("2001/12/24\nDays found: 1\n");
    }

    void searchGivesTheResultLines()
    {
        QFETCH(QStringList, keywords);
        QFETCH(QByteArray, expected);

        // 表 is 95 5C: its second byte is a backslash.
        WriteFile(Path("a.txt"), "rain and walk in the park");
        WriteFile(Path("b.txt"), "表");
        WriteFile(Path("memo.txt"), "メモ");
        Put("2001/12/24",
            { "--schedule", "8=rain", "--schedule", "9=walk", "--memo-file", "memo.txt", "--temperature", "30" });
        Put("2001/05/05", { "--weather", "Rain", "--diary-file", "b.txt" });
        Put("2001/02/03", { "--diary-file", "a.txt" });

        for (const char* jobs : { "1", "4" }) {
            Run run = Kivbook(QStringList { "search", book } + keywords + QStringList { "--jobs", jobs });
            QCOMPARE(run.status, 0);
            QCOMPARE(run.out, expected);
        }
    }

    // A day that reads but is no day file is named, with the reason in the
    // run's language, and the search says it passed one over, on any
    // number of threads.
    void searchNamesADayThatDoesNotParse()
    {
        Put("2001/01/01", { "--weather", "rain" });
        Put("2001/01/03", { "--weather", "rain" });
        AddMember("20010102.DAY", "no day file at all");
        for (const char* jobs : { "1", "3" }) {
            const Run run = Kivbook({ "search", book, "rain", "--jobs", jobs });
            QCOMPARE(run.status, 1);
            QVERIFY2(run.err.contains("skipped 20010102.DAY: Invalid stream format.\n"), run.err.constData());
            QVERIFY2(run.out.contains("2001/01/01\n2001/01/03\n"), run.out.constData());
        }
    }

    // The days are read on several threads; what is reported, and in which
    // order, is what one thread reports.
    void searchGivesTheSameOnEveryNumberOfJobs()
    {
        AddDays(1000);
        const QList<QStringList> keywordSets { { "rain" }, { "walk" }, { "rain", "walk" }, { "Rain" }, { "snow" },
            { "\xe6\x9b\x87" /* 曇, in no day */ }, { "\xe9\x9b\xa8\xe3\x81\xae\xe6\x97\xa5" /* 雨の日 */ },
            { "park", "walk", "a" }, { "fine", "sunny" }, { "rain", "fine" }, { "n a" }, { "sunny", "", "" },
            { "e" }, { "in the" }, { "walk", "rain", "and" }, { "x" }, { "rain", "snow" }, { "a" }, { "fine" },
            { "park" } };
        int hitSets = 0;
        for (const QStringList& keywords : keywordSets) {
            const Run one = Kivbook(QStringList { "search", book } + keywords + QStringList { "--jobs", "1" });
            QCOMPARE(one.status, 0);
            hitSets += one.out.startsWith("2001/") ? 1 : 0;
            for (const char* jobs : { "2", "3", "16" }) {
                const Run many = Kivbook(QStringList { "search", book } + keywords + QStringList { "--jobs", jobs });
                QCOMPARE(many.status, 0);
                QCOMPARE(many.out, one.out);
            }
            QCOMPARE(Kivbook(QStringList { "search", book } + keywords).out, one.out);
        }
        QVERIFY(hitSets >= 15);
        for (const char* wrong : { "0", "x", "257", "" })
            QCOMPARE(Kivbook({ "search", book, "rain", "--jobs", wrong }).status, 2);
    }

    // A flipped byte in an AES member that records no CRC (7-Zip's AE-2):
    // the authentication code finds it, and every command reports the day
    // as damaged, on any number of threads.
    void damagedAesDaysAreReportedAsDamaged()
    {
        const QString sevenZip = QStandardPaths::findExecutable("7z");
        if (sevenZip.isEmpty()) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("7z is not installed");
            QSKIP("7z is not installed");
        }
        const QStringList names = WriteDays(200);
        // Stored, so that the flipped byte lands in the diary's text: read
        // as far as its recorded size, it would give a day that reads.
        const qsizetype text = ReadFile(Path("work/20010601.DAY")).indexOf("walk");
        QVERIFY(text > 0);
        QProcess zip;
        zip.setWorkingDirectory(Path("work"));
        zip.start(sevenZip, QStringList { "a", "-tzip", "-mx=0", "-pseven pw", "-mem=AES256", "-bd", book } + names);
        QVERIFY(zip.waitForFinished(60000));
        QCOMPARE(zip.exitCode(), 0);
        QDir(Path("work")).removeRecursively();
        WriteFile(Path("pw"), "seven pw\n");
        const QByteArray intact = ReadFile(book);
        QCOMPARE(qFromLittleEndian<quint32>(intact.constData() + intact.indexOf("PK\x01\x02") + 16), 0u); // AE-2

        // 2001/06/01's "walk" becomes "Walk": after the salt (16 bytes) and
        // the password verifier (2), the data is the day file's bytes
        // encrypted one for one.
        QByteArray bytes = intact;
        const qsizetype local = bytes.indexOf("20010601.DAY") - 30;
        const qsizetype data = local + 30 + 12 + qFromLittleEndian<quint16>(bytes.constData() + local + 28);
        bytes[data + 18 + text] = char(bytes[data + 18 + text] ^ 0x20);
        WriteFile(book, bytes);
        const QByteArray damage = "格納ファイルのチェックサムがあっていません。";

        const Run show = Kivbook({ "show", book, "2001/06/01", "--password-file", "pw" }, {}, japanese);
        QCOMPARE(show.status, 1);
        QCOMPARE(show.out, QByteArray());
        QVERIFY2(show.err.contains(damage), show.err.constData());
        QCOMPARE(Kivbook({ "show", book, "2001/05/31", "--password-file", "pw" }, {}, japanese).status, 0);

        QByteArray hits; // the same on every number of threads
        for (const char* jobs : { "1", "2" }) {
            const Run search
                = Kivbook({ "search", book, "snow", "--password-file", "pw", "--jobs", jobs }, {}, japanese);
            QCOMPARE(search.status, 1);
            QVERIFY2(search.err.contains("kivbook: " + damage + "\n") && search.err.contains("20010601.DAY を飛ばしました: "),
                search.err.constData());
            QVERIFY(search.out.contains("2001/05/29\n2001/06/06\n")); // passed over, the search goes on
            if (hits.isEmpty())
                hits = search.out;
            QCOMPARE(search.out, hits);
        }

        // In English the reason is English, on any number of threads.
        for (const char* jobs : { "1", "3" }) {
            const Run search = Kivbook({ "search", book, "snow", "--password-file", "pw", "--jobs", jobs }, {}, plainC);
            QCOMPARE(search.status, 1);
            QVERIFY2(search.err.contains("kivbook: The member's checksum does not match.\n")
                    && search.err.contains("skipped 20010601.DAY: "),
                search.err.constData());
        }

        const Run check = Kivbook({ "check", book, "--password-file", "pw" }, {}, plainC);
        QCOMPARE(check.status, 1);
        QCOMPARE(check.out, QByteArray("20010601.DAY: The member's checksum does not match.\n200 days checked, 1 problem\n"));

        // Intact, every day reads.
        WriteFile(book, intact);
        QCOMPARE(Kivbook({ "check", book, "--password-file", "pw" }, {}, plainC).out,
            QByteArray("200 days checked, 0 problems\n"));
    }

    void encryptedBooks()
    {
        WriteFile(Path("pw"), "秘密\n");
        WriteFile(Path("wrong"), "himitsu\n");
        Put("2002/01/01", { "--weather", "曇り", "--encrypt", "--password-file", "pw" });
        Put("2002/01/02", { "--weather", "曇りのち晴れ" });

        // Encrypted, with the password in code page 932 as the program's
        // password dialog gives it.
        {
            struct Cp932Password : archive::PasswordSource {
                bool AskPassword(std::string& password) override
                {
                    password = "\x94\xe9\x96\xa7"; // 秘密
                    return true;
                }
            } password;
            ScriptedPrompts prompts;
            archive::Host host;
            host.prompts = &prompts;
            host.password = &password;
            archive::SetHost(host);
            MemberInfo info {};
            QVERIFY(archive::OpenBookArchive(book.toStdString()));
            QCOMPARE(archive::CurrentUnZip().FindFirst(archive::BookHandle, "20020101.DAY", &info), 0);
            archive::CloseBookArchive();
            QCOMPARE(info.uFlag & 1, 1u);
            MemoryStream stream;
            QVERIFY(archive::ExtractDay(book.toStdString(), "20020101.DAY", stream));
            archive::SetHost({});
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(stream.Data()), int(stream.Size())),
                QByteArray::fromHex("54504630"
                                    "0854446179426f6f6b"
                                    "00"
                                    "07576561746865720604"
                                    "93dc82e8"
                                    "0000"));
        }

        Run show = Kivbook({ "show", book, "2002/01/01", "--password-file", "pw" });
        QCOMPARE(show.status, 0);
        QVERIFY(show.out.contains("weather: 曇り\n"));

        Run fromInput = Kivbook({ "search", book, "曇り", "--password-file", "-" }, "秘密\n");
        QCOMPARE(fromInput.status, 0);
        QCOMPARE(fromInput.out, QByteArray("2002/01/01\n2002/01/02\nDays found: 2\n"));

        // A day in AES-256 beside them, with its own password: read alike,
        // refused alike.
        WriteFile(Path("pw2"), "aes pw\n");
        Put("2002/01/03", { "--weather", "雪", "--encrypt=aes256", "--password-file", "pw2" });
        QVERIFY(ReadFile(book).contains(QByteArray("\x01\x99\x07\x00\x02\x00"
                                                   "AE",
            8)));
        QVERIFY(Kivbook({ "show", book, "2002/01/03", "--password-file", "pw2" }).out.contains("weather: 雪\n"));
        QCOMPARE(Kivbook({ "put", book, "2002/01/04", "--encrypt=aes", "--password-file", "pw2" }).status, 2);

        for (const char* date : { "2002/01/01", "2002/01/03" }) {
            Run wrong = Kivbook({ "show", book, date, "--password-file", "wrong" });
            QCOMPARE(wrong.status, 1);
            QCOMPARE(wrong.out, QByteArray());
            QVERIFY2(wrong.err.contains("The member is protected by a password."), wrong.err.constData());
            QVERIFY(wrong.err.contains("the password given does not open this day"));
        }

        // Standard input is a pipe here, never a terminal to ask on.
        Run none = Kivbook({ "show", book, "2002/01/01" });
        QCOMPARE(none.status, 1);
        QVERIFY(none.err.contains("--password-file"));
        // The plain day needs no password.
        QCOMPARE(Kivbook({ "show", book, "2002/01/02" }).status, 0);

        Run search = Kivbook({ "search", book, "曇り" });
        QCOMPARE(search.status, 1);
        QVERIFY(search.err.contains("kivbook: The search of " + Path("日記 帳.KIV").toUtf8() + " failed.\n"));
        QCOMPARE(search.out, QByteArray()); // no count line: the search did not end
    }

    // A day whose directory record disagrees with its sound local header is
    // shown (its data check out), and check names the disagreement.
    void checkNamesADirectoryRecordThatDisagrees()
    {
        Put("2003/01/01", { "--weather", "晴れ" });
        Put("2003/01/02", { "--weather", "雨" });
        QByteArray bytes = ReadFile(book);
        const qsizetype second = bytes.indexOf("PK\x01\x02", bytes.indexOf("PK\x01\x02") + 4);
        bytes[second + 16] = char(bytes[second + 16] ^ 0x5A); // the CRC's first byte
        WriteFile(book, bytes);

        QCOMPARE(Kivbook({ "show", book, "2003/01/02" }).status, 0);
        Run check = Kivbook({ "check", book });
        QCOMPARE(check.out,
            QByteArray("20030102.DAY: the central directory's CRC disagrees with the local header; the local header's, "
                       "whose data check out, were read\n2 days checked, 1 problem\n"));
        QCOMPARE(check.status, 1);
    }

    void checkFindsMembersThatAreNotDays()
    {
        Put("2003/01/01", { "--weather", "晴れ" });
        Put("2003/01/02", { "--weather", "雨" });
        Run good = Kivbook({ "check", book });
        QCOMPARE(good.status, 0);
        QCOMPARE(good.out, QByteArray("2 days checked, 0 problems\n"));

        AddMember("20030103.DAY", "not a day file");
        AddMember("notes.txt", "hello");
        Run bad = Kivbook({ "check", book });
        QCOMPARE(bad.status, 1);
        QCOMPARE(bad.out,
            QByteArray("20030103.DAY: Invalid stream format.\n"
                       "notes.txt: not a day file (the program does not list it)\n"
                       "3 days checked, 2 problems\n"));
    }

    void oddMembersAreSkippedAndNamed()
    {
        TDayBook day;
        day.Diary = "rain";
        MemoryStream stream;
        day.Write(stream);
        WriteFile(
            book, handmade::OddBook(QByteArray(reinterpret_cast<const char*>(stream.Data()), int(stream.Size()))));
        const QByteArray longName(512, 'A'); // as much as a find record holds
        const QByteArray odd = "../../20010102.DAY: a name with a folder part\n" + longName
            + ": a name too long to read (512 bytes or more)\n"
              "20010103.DAY: a symbolic link, not a file\n"
              "20010104.DAY: an earlier member of this name (the later one is read)\n";
        QByteArray skipped;
        for (const QByteArray& line : odd.split('\n'))
            if (!line.isEmpty())
                skipped += "kivbook: skipped " + line + "\n";

        Run search = Kivbook({ "search", book, "rain" });
        QCOMPARE(search.status, 1);
        QCOMPARE(search.out, QByteArray("2001/01/\\x1b[\n2001/01/01\n2001/01/04\nDays found: 3\n"));
        QCOMPARE(search.err, skipped);

        Run check = Kivbook({ "check", book });
        QCOMPARE(check.status, 1);
        QCOMPARE(check.out,
            "200101\\x1b[2J.DAY: reads, but its name is not a date (yyyymmdd.DAY)\n" + odd
                + "3 days checked, 5 problems\n");

        Run exported = Kivbook({ "export", book, "out" });
        QCOMPARE(exported.status, 1);
        QCOMPARE(exported.err, skipped);
        QCOMPARE(QDir(Path("out")).entryList(QDir::Files),
            QStringList({ "2001-01-01.md", "2001-01-04.md", "index.md", "member-200101__2J.md" }));

        QCOMPARE(Kivbook({ "list", book }).out, QByteArray("2001/01/\\x1b[2J\n2001/01/01\n2001/01/04\n"));
    }

    void passwordsOfMoreThan80BytesAreRefused()
    {
        // 40 kanji are 80 bytes in code page 932; one more letter is too many.
        const QByteArray longest = QString(40, QChar(0x79D8)).toUtf8(); // 秘
        WriteFile(Path("pw80"), longest + "\n");
        WriteFile(Path("pw81"), longest + "x\n");
        Run refused = Kivbook({ "put", book, "2002/01/01", "--weather", "雨", "--encrypt", "--password-file", "pw81" });
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains("kivbook: the password is longer than 80 bytes"), refused.err.constData());
        QVERIFY(!QFile::exists(book));

        Put("2002/01/01", { "--weather", "雨", "--encrypt", "--password-file", "pw80" });
        QVERIFY(Kivbook({ "show", book, "2002/01/01", "--password-file", "pw80" }).out.contains("weather: 雨\n"));
        Run show = Kivbook({ "show", book, "2002/01/01", "--password-file", "pw81" });
        QCOMPARE(show.status, 1);
        QVERIFY(show.err.contains("kivbook: the password is longer than 80 bytes"));
    }

    void repairMakesATruncatedBookReadable()
    {
        for (const char* date : { "2003/01/01", "2003/01/02", "2003/01/03" })
            Put(date, { "--weather", date });
        const QByteArray whole = ReadFile(book);
        const int centralDirectory = whole.indexOf("PK\x01\x02");
        QVERIFY(centralDirectory > 0);

        // Cut off the central directory: every day's data is still there and
        // reads, but the book is not written to before a repair.
        WriteFile(book, whole.left(centralDirectory));
        const QByteArray missing = "the directory is missing (3 members were found by their local headers)";
        QCOMPARE(Kivbook({ "list", book }).out, QByteArray("2003/01/01\n2003/01/02\n2003/01/03\n"));
        QVERIFY(Kivbook({ "show", book, "2003/01/03" }).out.contains("weather: 2003/01/03\n"));
        Run check = Kivbook({ "check", book });
        QCOMPARE(check.status, 1);
        QVERIFY(check.out.contains(missing));
        Run put = Kivbook({ "put", book, "2003/01/04", "--weather", "x" });
        QCOMPARE(put.status, 1);
        QVERIFY(put.err.contains(missing));
        QCOMPARE(ReadFile(book), whole.left(centralDirectory));

        Run repair = Kivbook({ "repair", book });
        QVERIFY2(repair.status == 0, repair.err.constData());
        QVERIFY(repair.err.contains("the damaged book is kept as " + QFile::encodeName(book) + ".bak\n"));
        QCOMPARE(Kivbook({ "list", book }).out, QByteArray("2003/01/01\n2003/01/02\n2003/01/03\n"));
        QCOMPARE(Kivbook({ "check", book }).status, 0);
        QVERIFY(Kivbook({ "show", book, "2003/01/03" }).out.contains("weather: 2003/01/03\n"));
    }

    void exportWritesEveryFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("scheduleRow");
        QTest::addColumn<QByteArray>("pictureReference");

        QTest::newRow("markdown") << "markdown"
                                  << ".md" << QByteArray("| 8:00 | 会議 \\| 準備 |") << QByteArray("](2001-03-16.png)");
        QTest::newRow("html") << "html"
                              << ".html"
                              << QByteArray("<td class=\"time\">8:00</td><td class=\"text\">会議 | 準備</td>")
                              << QByteArray("<img src=\"2001-03-16.png\"");
        QTest::newRow("text") << "text"
                              << ".txt" << QByteArray(" 8:00 | 会議 | 準備\n")
                              << QByteArray("画像：2001-03-16.bmp（BMP、70 バイト）");
    }

    void exportWritesEveryFormat()
    {
        QFETCH(QString, format);
        QFETCH(QString, extension);
        QFETCH(QByteArray, scheduleRow);
        QFETCH(QByteArray, pictureReference);

        const QByteArray jpeg = "\xff\xd8\xff\xe0 JPEG bytes \xff\xd9";
        WriteFile(Path("p.bmp"), TwoByTwoBmp());
        WriteFile(Path("p.jpg"), jpeg);
        Put("2001/03/15", { "--schedule", "8=会議 | 準備", "--weather", "晴れ" });
        Put("2001/03/16", { "--picture", "p.bmp" });
        Put("2001/04/01", { "--picture", "p.jpg", "--weather", "<b>雨</b>" });

        Run run = Kivbook({ "export", book, "out", "--format", format });
        QVERIFY2(run.status == 0, run.err.constData());
        QDir out(Path("out"));
        QStringList expectedFiles { "2001-03-15" + extension, "2001-03-16" + extension, "2001-03-16.bmp",
            "2001-04-01" + extension, "2001-04-01.jpg", "index" + extension };
        if (format != "text")
            expectedFiles << "2001-03-16.png";
        expectedFiles.sort();
        QCOMPARE(out.entryList(QDir::Files, QDir::Name), expectedFiles);

        QVERIFY(ReadFile(out.filePath("2001-03-15" + extension)).contains(scheduleRow));
        QVERIFY(ReadFile(out.filePath("2001-03-16" + extension)).contains(pictureReference));
        QCOMPARE(ReadFile(out.filePath("2001-03-16.bmp")), TwoByTwoBmp());
        QCOMPARE(ReadFile(out.filePath("2001-04-01.jpg")), jpeg);
        if (format == "html")
            QVERIFY(ReadFile(out.filePath("2001-04-01.html")).contains("天気：&lt;b&gt;雨&lt;/b&gt;"));
        if (format != "text") {
            int width = 0, height = 0;
            QCOMPARE(PngPixels(ReadFile(out.filePath("2001-03-16.png")), width, height),
                QByteArray::fromHex("ff0000"
                                    "00ff00"
                                    "0000ff"
                                    "ffffff"));
            QCOMPARE(width, 2);
            QCOMPARE(height, 2);
        }
        const QByteArray index = ReadFile(out.filePath("index" + extension));
        QVERIFY(index.contains("2001年03月") && index.contains("2001年04月"));
        for (const char* day : { "2001-03-15", "2001-03-16", "2001-04-01" })
            QVERIFY(index.contains(day + extension.toUtf8()));
    }

    // A day that does not read (not a day file, no bytes at all, a method
    // this build cannot read) is named and passed over by search and
    // export, which go on with the other days; show names the method.
    void unreadableDaysAreSkippedAndNamed()
    {
        Put("2001/03/15", { "--weather", "晴れ" });
        AddMember("20010316.DAY", "not a day file");
        AddMember("20010317.DAY", "");
        Put("2001/03/19", { "--weather", "晴れ" });
        const QString python3 = QStandardPaths::findExecutable("python3");
        if (python3.isEmpty())
            QSKIP("python3 is not installed");
        // A day stored, then marked as PPMd in both of its records.
        QProcess python;
        python.start(python3, { "-c", "import struct, sys, zipfile\n"
                                      "zipfile.ZipFile(sys.argv[1], 'a').writestr('20010318.DAY', b'x' * 99)\n"
                                      "b = bytearray(open(sys.argv[1], 'rb').read())\n"
                                      "for at in (b.index(b'20010318.DAY') - 22, b.rindex(b'20010318.DAY') - 36):\n"
                                      "    b[at:at + 2] = struct.pack('<H', 98)\n"
                                      "open(sys.argv[1], 'wb').write(b)",
                                  book });
        QVERIFY(python.waitForFinished() && python.exitCode() == 0);

        Run search = Kivbook({ "search", book, "晴れ" });
        QCOMPARE(search.out, QByteArray("2001/03/15\n2001/03/19\nDays found: 2\n"));
        QCOMPARE(search.status, 1);
        QVERIFY2(search.err.contains("skipped 20010316.DAY: ") && search.err.contains("skipped 20010317.DAY: ")
                && search.err.contains("skipped 20010318.DAY: compressed with ppmd, which this build cannot read\n"),
            search.err.constData());

        Run show = Kivbook({ "show", book, "2001/03/18" });
        QCOMPARE(show.status, 1);
        QVERIFY2(show.err.contains("compressed with ppmd, which this build cannot read"), show.err.constData());

        Run exported = Kivbook({ "export", book, "out" });
        QCOMPARE(exported.status, 1);
        for (const char* day : { "2001/03/16", "2001/03/17", "2001/03/18" })
            QVERIFY2(exported.err.contains(QByteArray("skipped ") + day + ": it does not read\n"), exported.err.constData());
        QCOMPARE(QDir(Path("out")).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 3); // two days and the index
    }

    void exportLeavesNothingOnFailure()
    {
        Put("2001/03/15", { "--weather", "晴れ" });
        const QStringList before = QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        // A folder with something in it is never written into.
        QDir(temp.path()).mkpath("full");
        WriteFile(Path("full/keep.txt"), "mine");
        Run full = Kivbook({ "export", book, "full" });
        QCOMPARE(full.status, 1);
        QCOMPARE(QDir(Path("full")).entryList(QDir::Files), QStringList { "keep.txt" });
    }

    void holidaysPrintsTheTable_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("status");

        QTest::newRow("a month") << QStringList { "holidays", "2026/11/01", "2026/11/30" }
                                 << QByteArray("2026/11/03 文化の日\n2026/11/23 勤労感謝の日\n") << 0;
        QTest::newRow("to the end of the year") << QStringList { "holidays", "20181201" }
                                                << QByteArray("2018/12/23 天皇誕生日\n2018/12/24 振替休日\n") << 0;
        QTest::newRow("one day") << QStringList { "holidays", "2026/9/22", "2026/9/22" }
                                 << QByteArray("2026/09/22 国民の休日\n") << 0;
        QTest::newRow("json") << QStringList { "holidays", "--json", "2019/04/30", "2019/05/01" }
                              << QByteArray("[{\"date\":\"2019/04/30\",\"name\":\"国民の休日\"},"
                                            "{\"date\":\"2019/05/01\",\"name\":\"天皇の即位の日\"}]\n")
                              << 0;
        QTest::newRow("json, none") << QStringList { "holidays", "2026/12/01", "--json" } << QByteArray("[]\n") << 0;
        // What lies beyond the table is not called an ordinary day.
        QTest::newRow("beyond the table") << QStringList { "holidays", "2099/11/04", "2100/12/31" }
                                          << QByteArray("2099/11/23 勤労感謝の日\n") << 1;
        QTest::newRow("before the law") << QStringList { "holidays", "1948/01/01" }
                                        << QByteArray("1948/09/23 秋分の日\n1948/11/03 文化の日\n"
                                                      "1948/11/23 勤労感謝の日\n")
                                        << 1;
    }

    void holidaysPrintsTheTable()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, out);
        QFETCH(int, status);
        const Run run = Kivbook(arguments);
        QCOMPARE(run.out, out);
        QCOMPARE(run.status, status);
        QCOMPARE(run.err,
            status == 0 ? QByteArray() : QByteArray("kivbook: holidays are known from 1948/07/20 to 2099/12/31 only\n"));
    }

    void holidaysWithoutDatesGivesThisYear()
    {
        const Run run = Kivbook({ "holidays" });
        QCOMPARE(run.status, 0);
        const QString year = QString::number(QDate::currentDate().year());
        QCOMPARE(run.out, Kivbook({ "holidays", year + "/01/01", year + "/12/31" }).out);
        QVERIFY(run.out.startsWith((year + "/01/01 元日\n").toUtf8()));
    }

    // Each run speaks one language: the archive layer's messages and
    // kivbook's own, on a book whose days do not all read and on one that
    // is no book.
    void oneLanguagePerRun_data()
    {
        QTest::addColumn<bool>("inJapanese");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");

        const QStringList check { "check", "odd.KIV" };
        QTest::newRow("C: check") << false << check << 1
                                  << QByteArray("20030103.DAY: Invalid stream format.\n"
                                                "notes.txt: not a day file (the program does not list it)\n"
                                                "2 days checked, 2 problems\n")
                                  << QByteArray();
        QTest::newRow("ja: check") << true << check << 1
                                   << QByteArray("20030103.DAY: 不正なストリーム フォーマット.\n"
                                                 "notes.txt: 日記のファイルではありません（プログラムは一覧に出しません）\n"
                                                 "2 日を調べました。問題: 2 件\n")
                                   << QByteArray();
        const QStringList broken { "check", "broken.KIV" };
        QTest::newRow("C: check, no book")
            << false << broken << 1 << QByteArray()
            << QByteArray("kivbook: The chosen file is not a valid archive.\n"
                          "kivbook: broken.KIV: the book's days cannot be listed\n");
        QTest::newRow("ja: check, no book") << true << broken << 1 << QByteArray()
                                            << QByteArray("kivbook: 選んだファイルは、書庫として正しくありません。\n"
                                                          "kivbook: broken.KIV: 日記帳の日付を一覧できません\n");
        const QStringList search { "search", "days.KIV", "晴れ" };
        QTest::newRow("C: search") << false << search << 0 << QByteArray("2003/01/01\nDays found: 1\n") << QByteArray();
        QTest::newRow("ja: search") << true << search << 0 << QByteArray("2003/01/01\n1件ヒットしました。\n")
                                    << QByteArray();
        const QStringList noKeyword { "search", "days.KIV", "" };
        QTest::newRow("ja: no keyword") << true << noKeyword << 2 << QByteArray()
                                        << QByteArray("kivbook: キーワードが書き込まれていないと、検索できません。\n"
                                                      "使い方: kivbook search BOOK [KEYWORD [KEYWORD [KEYWORD]]] "
                                                      "[options]\n"
                                                      "（詳しくは kivbook search --help で）\n");
        QTest::newRow("C: no keyword") << false << noKeyword << 2 << QByteArray()
                                       << QByteArray("kivbook: Without a keyword there is nothing to search for.\n"
                                                     "usage: kivbook search BOOK [KEYWORD [KEYWORD [KEYWORD]]] "
                                                     "[options]\n"
                                                     "(kivbook search --help tells more)\n");
        const QStringList show { "show", "days.KIV", "2003/01/01" };
        QTest::newRow("ja: holidays beyond the table")
            << true << QStringList { "holidays", "2100/01/01" } << 1 << QByteArray()
            << QByteArray("kivbook: 祝日がわかるのは 1948/07/20 から 2099/12/31 までだけです\n");
        QTest::newRow("ja: holidays backwards")
            << true << QStringList { "holidays", "2026/12/01", "2026/11/30" } << 2 << QByteArray()
            << QByteArray("kivbook: 範囲の終わりが始まりより前です\n"
                          "使い方: kivbook holidays [FROM [TO]] [--json]\n"
                          "（詳しくは kivbook holidays --help で）\n");
        QTest::newRow("ja: show") << true << show << 0
                                  << QByteArray("8:00\n9:00\n10:00\n11:00\n12:00\n13:00\n14:00\n15:00\n16:00\n"
                                                "17:00\n18:00\nメモ:\n天気: 晴れ\n温度:\n日記:\n画像: なし\n")
                                  << QByteArray();
    }

    void oneLanguagePerRun()
    {
        QFETCH(bool, inJapanese);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);

        book = Path("odd.KIV");
        Put("2003/01/01", { "--weather", "晴れ" });
        AddMember("20030103.DAY", "not a day file");
        AddMember("notes.txt", "hello");
        book = Path("days.KIV");
        Put("2003/01/01", { "--weather", "晴れ" });
        WriteFile(Path("broken.KIV"), "not a zip archive");

        Run run = Kivbook(arguments, {}, inJapanese ? japanese : plainC);
        QCOMPARE(run.out, out);
        QCOMPARE(run.err, err);
        QCOMPARE(run.status, status);
    }

    // The system's error texts speak the run's language too: Japanese as
    // UTF-8 whatever the locale's character set, English in any other run.
    void systemErrorsSpeakTheRunsLanguage_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QByteArray>("said");

        QTest::newRow("LANG=C") << plainC << QByteArray("(No such file or directory)");
        QTest::newRow("LANG=ja_JP.UTF-8") << japanese << QByteArray("(そのようなファイルやディレクトリはありません)");
        QTest::newRow("LANGUAGE=fr, LANG=C.UTF-8") << (plainC + Settings { { "LANG", "C.UTF-8" }, { "LANGUAGE", "fr" } })
                                                   << QByteArray("(No such file or directory)");
    }

    void systemErrorsSpeakTheRunsLanguage()
    {
        QFETCH(Settings, settings);
        QFETCH(QByteArray, said);
        // The book's lock file cannot be made in a folder that is not there.
        const Run run = Kivbook({ "put", "no folder/x.KIV", "20010101", "--weather", "晴れ" }, {}, settings);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(".lock " + said + ")"), run.err.constData());
    }

    // --help follows the locale; LANGUAGE chooses Japanese under any locale
    // but C, as gettext has it.
    void helpFollowsTheLocale_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QByteArray>("firstLine");

        QTest::newRow("LANG=C") << plainC << QByteArray("usage: kivbook COMMAND ARGUMENTS...");
        QTest::newRow("LANG=ja_JP.UTF-8") << japanese << QByteArray("使い方: kivbook COMMAND ARGUMENTS...");
        QTest::newRow("LANGUAGE=ja, LANG=C") << (plainC + Settings { { "LANGUAGE", "ja" } })
                                             << QByteArray("usage: kivbook COMMAND ARGUMENTS...");
        QTest::newRow("LANGUAGE=ja, LANG=C.UTF-8")
            << Settings { { "LC_ALL", "" }, { "LC_MESSAGES", "" }, { "LANG", "C.UTF-8" }, { "LANGUAGE", "ja" } }
            << QByteArray("使い方: kivbook COMMAND ARGUMENTS...");
        QTest::newRow("LC_ALL=C over LANG=ja_JP.UTF-8") << (japanese + Settings { { "LC_ALL", "C" } })
                                                         << QByteArray("usage: kivbook COMMAND ARGUMENTS...");
    }

    void helpFollowsTheLocale()
    {
        QFETCH(Settings, settings);
        QFETCH(QByteArray, firstLine);
        Run run = Kivbook({ "--help" }, {}, settings);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.left(run.out.indexOf('\n')), firstLine);
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");

        QTest::newRow("nothing") << QStringList {} << 2;
        QTest::newRow("unknown command") << QStringList { "frob" } << 2;
        QTest::newRow("no book") << QStringList { "list" } << 2;
        QTest::newRow("too many") << QStringList { "list", "a.KIV", "b.KIV" } << 2;
        QTest::newRow("not a date") << QStringList { "show", "a.KIV", "2001/02/30" } << 2;
        QTest::newRow("unknown option") << QStringList { "show", "a.KIV", "20010101", "--fast" } << 2;
        QTest::newRow("hour out of range") << QStringList { "put", "a.KIV", "20010101", "--schedule", "19=x" } << 2;
        QTest::newRow("hour twice") << QStringList { "put", "a.KIV", "20010101", "--schedule", "9=x", "--schedule",
            "9=y" } << 2;
        QTest::newRow("picture kind") << QStringList { "put", "a.KIV", "20010101", "--picture", "p.gif" } << 2;
        QTest::newRow("two from stdin") << QStringList { "put", "a.KIV", "20010101", "--diary-file", "-", "--memo-file",
            "-" } << 2;
        QTest::newRow("empty first keyword") << QStringList { "search", "a.KIV", "" } << 2;
        QTest::newRow("gap in keywords") << QStringList { "search", "a.KIV", "a", "", "c" } << 2;
        QTest::newRow("export format") << QStringList { "export", "a.KIV", "out", "--format", "docx" } << 2;
        QTest::newRow("holiday range not a date") << QStringList { "holidays", "2026/02/30" } << 2;
        QTest::newRow("holiday range backwards") << QStringList { "holidays", "2026/12/01", "2026/11/30" } << 2;
        QTest::newRow("holiday range of three") << QStringList { "holidays", "2026/01/01", "2026/12/31", "x" } << 2;
        QTest::newRow("no such book") << QStringList { "list", "a.KIV" } << 1;
        QTest::newRow("empty day") << QStringList { "put", "a.KIV", "20010101" } << 1;
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        Run run = Kivbook(arguments);
        QCOMPARE(run.status, status);
        QCOMPARE(run.out, QByteArray());
        QVERIFY(run.err.startsWith("kivbook: "));
        QCOMPARE(run.err.contains("usage: kivbook"), status == 2);
        QVERIFY(!QFile::exists(Path("a.KIV")));
    }

    void everyCommandHasHelp()
    {
        for (const char* command :
            { "list", "show", "search", "put", "delete", "repair", "check", "export", "holidays", "years" }) {
            Run run = Kivbook({ command, "--help" });
            QCOMPARE(run.status, 0);
            QVERIFY2(run.out.startsWith(QByteArray("usage: kivbook ") + command), command);
        }
        QCOMPARE(Kivbook({ "--help" }).status, 0);
    }
};

QTEST_GUILESS_MAIN(KivbookTest)
#include "tst_kivbook.moc"
