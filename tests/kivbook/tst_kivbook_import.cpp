// SPDX-License-Identifier: GPL-3.0-or-later
// import and the single-file exports, run through the built kivbook on the
// samples in import-samples/ and on books made here.
#include "Archive.h"
#include "KivbookRun.h"
#include "ScriptedPrompts.h"
#include "TDayBook.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kiv;

namespace {

// What a day's field should read (show --json), "schedule 9" for a row.
struct Expected {
    const char* date;
    const char* field;
    const char* text;
};

QByteArray Sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// A tiny JPEG and BMP, enough for a day's picture.
const QByteArray kJpeg = QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000ffd9");
const QByteArray kOtherJpeg = QByteArray::fromHex("ffd8ffe000104a46494600010100000100020000ffd9");
const QByteArray kBmp = QByteArray::fromHex("424d3a0000000000000036000000280000000100000001000000010018000000000004"
                                            "00000000000000000000000000000000000000ff0000");

} // namespace

class KivbookImportTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    QString book;
    const QString samples = QStringLiteral(KIV_IMPORT_SAMPLES);

    QString Path(const QString& name) const { return temp.filePath(name); }

    Run Kivbook(const QStringList& arguments, const QByteArray& timeZone = "Asia/Tokyo")
    {
        QProcess process;
        process.setWorkingDirectory(temp.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LANG", "C");
        environment.remove("LC_ALL");
        environment.remove("LANGUAGE");
        environment.insert("TZ", timeZone);
        environment.insert("TMPDIR", Path("tmp"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KIVBOOK_PATH), arguments);
        if (!process.waitForStarted())
            qFatal("kivbook does not start");
        const Run run = Finish(process, {});
        if (run.err.contains("Sanitizer") || run.err.contains("runtime error:"))
            qFatal("kivbook %s: %s", qPrintable(arguments.join(' ')), run.err.constData());
        return run;
    }

    QJsonObject Day(const QString& date)
    {
        const Run run = Kivbook({ "show", book, date, "--json" });
        return QJsonDocument::fromJson(run.out).object();
    }

    QString Field(const QJsonObject& day, const QString& field)
    {
        if (field.startsWith("schedule "))
            return day["schedule"].toArray()[field.mid(9).toInt() - 8].toString();
        if (field == "picture")
            return day["picture"].isNull() ? "none" : day["picture"].toObject()["sha256"].toString();
        return day[field].toString();
    }

    // Imports the source; the output's last line, the counts.
    QByteArray Import(const QString& source, const QStringList& options = {})
    {
        const Run run = Kivbook(QStringList { "import", book, source } + options);
        [&] { QVERIFY2(run.status == 0, run.err.constData()); }();
        return run.out.trimmed().split('\n').last();
    }

    // Imports a sample, checks the days, and imports it again: the book
    // stays as it was, every day unchanged.
    void ImportSample(const QString& source, const QByteArray& counts, const QList<Expected>& table)
    {
        QCOMPARE(Import(source), counts);
        for (const Expected& row : table)
            QVERIFY2(Field(Day(row.date), row.field) == QString::fromUtf8(row.text),
                qPrintable(QString("%1 %2: %3").arg(row.date, row.field, Field(Day(row.date), row.field))));
        const QByteArray before = ReadFile(book);
        const QByteArray again = Import(source);
        QVERIFY2(again.startsWith("0 added, 0 extended, "), again.constData());
        QCOMPARE(ReadFile(book), before);
    }

    // Day files of the records, added to the book by the program's own add
    // operation.
    void AddDays(const QList<std::pair<QString, TDayBook>>& days)
    {
        QDir().mkpath(Path("work"));
        for (const auto& [member, day] : days) {
            MemoryStream stream;
            day.Write(stream);
            stream.SaveToFile(Path("work/" + member).toStdString());
        }
        ScriptedPrompts prompts;
        archive::Host host;
        host.prompts = &prompts;
        host.workingDirectory = Path("work").toStdString();
        archive::SetHost(host);
        QVERIFY(archive::AddDayFiles(book.toStdString(), false));
        archive::SetHost({});
        QDir(Path("work")).removeRecursively();
    }

    QByteArray Member(const QString& bookPath, const QString& member)
    {
        QProcess unzip;
        unzip.start("unzip", { "-p", bookPath, member });
        unzip.waitForFinished();
        return unzip.readAllStandardOutput();
    }

    // A tool the check needs; CI must have it.
    bool Have(const QString& tool)
    {
        if (!QStandardPaths::findExecutable(tool).isEmpty())
            return true;
        if (qEnvironmentVariableIsSet("CI"))
            qFatal("%s is missing", qPrintable(tool));
        return false;
    }

private slots:
    void init()
    {
        QDir(temp.path()).removeRecursively();
        QDir().mkpath(Path("tmp"));
        book = Path("book.KIV");
    }

    void cleanup() { QVERIFY(QDir(Path("tmp")).isEmpty()); }

    void jrnl()
    {
        // The entries of a day in time order, each with its time and title;
        // the emoji no day can hold is named.
        ImportSample(samples + "/jrnl.json", "2 added, 0 extended, 0 unchanged, 0 skipped",
            { { "2020/05/03", "diary",
                  "09:15 Met the team.\nLong talk about @work plans.\n\n19:30 Evening walk.\nCool air by the river, "
                  "夕焼け." },
                { "2020/05/04", "diary", "08:00 Rain all day" } });
        QVERIFY(Kivbook({ "import", Path("other.KIV"), samples + "/jrnl.json" }).out.contains("left out: 😀"));
    }

    void dayOne_data()
    {
        QTest::addColumn<bool>("zipped");
        QTest::newRow("folder") << false;
        QTest::newRow("zip") << true;
    }
    void dayOne()
    {
        QFETCH(bool, zipped);
        QString source = samples + "/dayone";
        if (zipped) {
            if (!Have("zip"))
                QSKIP("no zip tool");
            QProcess zip;
            zip.setWorkingDirectory(source);
            zip.start("zip", { "-qr", Path("export.zip"), "." });
            QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
            source = Path("export.zip");
        }
        // 23:30 UTC is the next morning in Tokyo; 02:00 UTC the evening
        // before in New York.
        ImportSample(source, "2 added, 0 extended, 0 unchanged, 0 skipped",
            { { "2020/05/04", "diary", "Morning in Tokyo\n\nCoffee at the station.\n\n#travel\n#food" },
                { "2020/05/04", "weather", "Partly Cloudy" }, { "2020/05/04", "temperature", "18.5℃" },
                { "2020/05/04", "picture", Sha(ReadFile(samples + "/dayone/photos/75cac50aa3dc94645dbee48a24707f5a.jpeg")) },
                { "2020/05/03", "diary", "Late night in New York." }, { "2020/05/03", "temperature", "21℃" },
                { "2020/05/03", "picture", "none" } });
    }

    void redNotebook()
    {
        ImportSample(samples + "/rednotebook", "3 added, 0 extended, 0 unchanged, 2 skipped",
            { { "2020/05/03", "diary", "A day in the garden.\n\nPlanted 'Momotaro' tomatoes." },
                { "2020/05/04", "diary", "Rain all day.\nRead \"Kokoro\"  again." },
                { "2020/05/12", "diary", "First line\n  indented line\n日本語の行" } });
    }

    void calendar()
    {
        // Berlin's 2:00 and 0:45 UTC are 9:00 and 9:45 in Tokyo: one row
        // with the floating 9:10; all-day and early events in the memo.
        ImportSample(samples + "/calendar.ics", "1 added, 0 extended, 0 unchanged, 0 skipped",
            { { "2020/05/04", "schedule 9",
                  "Call Berlin, then notes / Team meeting about the long and winding road of a summary that is folded "
                  "over two lines / 歯医者" },
                { "2020/05/04", "scheduleMemo", "Greenery Day\n6:30 Jogging\nAgenda: budget; travel" } });
        // The same calendar under Berlin's time.
        book = Path("berlin.KIV");
        QVERIFY(Kivbook({ "import", book, samples + "/calendar.ics" }, "Europe/Berlin").status == 0);
        QCOMPARE(Field(Day("2020/05/04"), "schedule 9"), QString("Team meeting about the long and winding road of a "
                                                                 "summary that is folded over two lines"));
        QCOMPARE(Field(Day("2020/05/04"), "scheduleMemo"),
            QString("Greenery Day\n2:00 Call Berlin, then notes\nAgenda: budget; travel\n2:45 歯医者\n6:30 Jogging"));
    }

    void markdownFolders()
    {
        // A foreign file is its diary; a name without a date is named.
        ImportSample(samples + "/markdown", "1 added, 0 extended, 0 unchanged, 1 skipped",
            { { "2020/05/05", "diary", "# A note written elsewhere\n\nSome *markdown* text." } });

        // Our own Markdown and text exports read back into every field.
        WriteFile(Path("diary.txt"), "Line *one* | 1. two\n  indented\n\n# not a heading");
        WriteFile(Path("p.jpg"), kJpeg);
        book = Path("source.KIV");
        QCOMPARE(Kivbook({ "put", book, "2003/01/02", "--weather", "雨", "--temperature", "5", "--diary-file",
                     "diary.txt", "--memo-file", "diary.txt", "--schedule", "8=a|b", "--schedule", "12=x\ny",
                     "--picture", "p.jpg" })
                     .status,
            0);
        const QByteArray held = Kivbook({ "show", book, "2003/01/02", "--hex" }).out;
        for (const char* format : { "markdown", "text" }) {
            QVERIFY(Kivbook({ "export", book, Path(format), "--format", format }).status == 0);
            QVERIFY(Kivbook({ "import", Path(format) + ".KIV", Path(format) }).status == 0);
            QCOMPARE(Kivbook({ "show", Path(format) + ".KIV", "2003/01/02", "--hex" }).out, held);
        }
    }

    // What the book holds stays; what it does not contain is added.
    void heldDaysKeepTheirTexts()
    {
        TDayBook held;
        held.Diary = "\x92\xa9\x81\x42"; // 朝。
        held.Weather = "\x90\xb0\x82\xea"; // 晴れ
        held.SetSchedule(2, "\x89\xef\x8b\x63"); // 会議
        held.SetPhotoData(kJpeg.constData(), kJpeg.size(), TDayBook::kJpeg);
        AddDays({ { "20200503.DAY", held } });
        auto day = [](const char* date, const QString& fields) {
            return QString(R"({"date": "%1", %2})").arg(date, fields);
        };
        WriteFile(Path("in.json"),
            (R"({"format": "kivbook-days", "days": [)"
                + day("2020-05-03",
                    R"("diary": "夜。", "weather": "雨", "scheduleMemo": "メモ", "schedule": ["", "会議", "", "", "", "", "", "", "", "", "夕食"], "picture": {"kind": 2, "data": ")"
                        + kOtherJpeg.toBase64() + R"("})")
                + ", " + day("2020-05-03", R"("diary": "朝", "weather": "晴れ")") + "]}")
                .toUtf8());
        const Run run = Kivbook({ "import", book, Path("in.json") });
        QVERIFY2(run.status == 0, run.err.constData());
        QVERIFY2(run.out.contains("in.json, entry 1: the day holds another picture; it is kept"), run.out.constData());
        QVERIFY(run.out.endsWith("0 added, 1 extended, 0 unchanged, 0 skipped\n"));
        const QJsonObject result = Day("2020/05/03");
        const QList<std::pair<QString, QString>> table = { { "diary", "朝。\n\n夜。" }, { "weather", "晴れ / 雨" },
            { "scheduleMemo", "メモ" }, { "schedule 9", "会議" }, { "schedule 18", "夕食" },
            { "picture", Sha(kJpeg) } };
        for (const auto& [field, text] : table)
            QCOMPARE(Field(result, field), text);

        // A dry run tells the same and writes nothing.
        const QByteArray before = ReadFile(book);
        WriteFile(Path("more.json"), (R"({"format": "kivbook-days", "days": [)" + day("2020-05-04", R"("diary": "x")")
                                         + ", " + day("2020-05-03", R"("diary": "昼")") + "]}")
                                         .toUtf8());
        const Run dry = Kivbook({ "import", book, Path("more.json"), "--dry-run" });
        QVERIFY(dry.out.endsWith("dry run: the book was not changed\n1 added, 1 extended, 0 unchanged, 0 skipped\n"));
        QCOMPARE(ReadFile(book), before);
    }

    // An encrypted day is read with the password and written back with it;
    // without the password it is left as it is, and the import says so.
    void encryptedDaysStayEncrypted()
    {
        WriteFile(Path("pw"), "secret\n");
        WriteFile(Path("d.txt"), "秘密の日記");
        QCOMPARE(Kivbook({ "put", book, "2020/05/03", "--diary-file", "d.txt", "--encrypt", "--password-file", "pw" })
                     .status,
            0);
        QFile::copy(book, Path("copy.KIV"));

        const Run run = Kivbook({ "import", book, samples + "/jrnl.json", "--password-file", "pw" });
        QVERIFY2(run.out.endsWith("1 added, 1 extended, 0 unchanged, 0 skipped\n"), run.out.constData());
        QVERIFY(Kivbook({ "show", book, "2020/05/03" }).status != 0); // no password, no day
        const Run shown = Kivbook({ "show", book, "2020/05/03", "--json", "--password-file", "pw" });
        QVERIFY(QJsonDocument::fromJson(shown.out).object()["diary"].toString().startsWith("秘密の日記\n\n09:15 Met"));

        book = Path("copy.KIV");
        auto held = [&] { return Kivbook({ "show", book, "2020/05/03", "--hex", "--password-file", "pw" }).out; };
        const QByteArray before = held();
        QVERIFY(before.contains("94e9")); // 秘 in code page 932
        const Run refused = Kivbook({ "import", book, samples + "/jrnl.json" });
        QVERIFY2(refused.out.contains("skipped jrnl.json, entry 2: the book's day 2020/05/03 does not read"),
            refused.out.constData());
        QVERIFY(refused.out.endsWith("1 added, 0 extended, 0 unchanged, 2 skipped\n"));
        QCOMPARE(held(), before);
    }

    void malformedInputChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("JSON syntax") << "j.json" << QByteArray("{\"entries\": [\n{\"date\": \"2020-05-03\",\n}]}")
                                     << QByteArray("j.json, line 3: a member name expected");
        QTest::newRow("jrnl date") << "j.json"
                                   << QByteArray(R"({"entries": [{"date": "2020-05-03"}, {"date": "5/3"}]})")
                                   << QByteArray("j.json, entry 2: \"date\" is not YYYY-MM-DD");
        QTest::newRow("own picture") << "k.json"
                                     << QByteArray(R"({"format": "kivbook-days", "days": [{"date": "2020-05-03",)"
                                                   "\"picture\": {\"kind\": 2, \"data\": \"@@\"}}]}")
                                     << QByteArray("k.json, entry 1: the picture's \"data\" is not base64");
        QTest::newRow("ics without DTSTART") << "c.ics"
                                             << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY:x\r\n"
                                                           "END:VEVENT\r\nEND:VCALENDAR\r\n")
                                             << QByteArray("c.ics, line 2: an event without DTSTART");
        QTest::newRow("ics unended") << "c.ics"
                                     << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:20200503\r\n")
                                     << QByteArray("c.ics, line 3: the calendar is not ended (END:VCALENDAR)");
        QTest::newRow("YAML") << "notebook/2020-05.txt" << QByteArray("3: {text: 'ok'}\n4: {text: [unclosed\n")
                              << QByteArray("2020-05.txt, line 3:");
    }
    void malformedInputChangesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, message);
        TDayBook held;
        held.Diary = "held";
        AddDays({ { "20200503.DAY", held } });
        const QByteArray before = ReadFile(book);
        QDir().mkpath(QFileInfo(Path(name)).path());
        WriteFile(Path(name), content);
        const QString source = name.contains('/') ? QFileInfo(Path(name)).path() : Path(name);
        const Run run = Kivbook({ "import", book, source });
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(ReadFile(book), before);
    }

    // Every member of a book over several years, pictures and bytes that
    // are no characters included, comes back from JSON byte for byte.
    void jsonRoundTrip()
    {
        QList<std::pair<QString, TDayBook>> days;
        const char* const dates[] = { "19991231", "20000229", "20120101", "20240815" };
        for (int i = 0; i < 4; ++i) {
            TDayBook day;
            day.Diary = std::string("\x93\xfa\x8b\x4c\r\nline\r\n\x81", 9) + std::to_string(i); // a lone lead byte
            day.SetSchedule(1 + i, "\xed\x40"); // an NEC-selected IBM character
            day.ScheduleMemo = i % 2 ? "\t\"quoted\" \\" : "";
            day.Temperature = "\x87\x40"; // ①
            if (i == 1)
                day.SetPhotoData(kBmp.constData(), kBmp.size(), TDayBook::kBmp);
            if (i == 2)
                day.SetPhotoData(kJpeg.constData(), kJpeg.size(), TDayBook::kJpeg);
            days.append({ QString(dates[i]) + ".DAY", day });
        }
        AddDays(days);
        QVERIFY(Kivbook({ "export", book, Path("out"), "--format", "json" }).status == 0);
        const QString copy = Path("copy.KIV");
        QCOMPARE(Kivbook({ "import", copy, Path("out/book.json") }).out, QByteArray("4 added, 0 extended, 0 unchanged, 0 skipped\n"));
        for (const auto& [member, day] : days) {
            QVERIFY(!Member(book, member).isEmpty());
            QCOMPARE(Member(copy, member), Member(book, member));
        }
        // A range takes its days only.
        QVERIFY(Kivbook({ "export", book, Path("range"), "--format", "json", "--from", "2000/01/01", "--to",
                            "20121231" })
                    .status
            == 0);
        const QJsonArray exported = QJsonDocument::fromJson(ReadFile(Path("range/book.json"))).object()["days"].toArray();
        QCOMPARE(exported.size(), 2);
        QCOMPARE(exported[0].toObject()["date"].toString(), QString("2000-02-29"));
        QCOMPARE(exported[1].toObject()["date"].toString(), QString("2012-01-01"));
    }

    // The calendar file as a real iCalendar library reads it: exactly the
    // book's filled rows, an hour long, in the local zone.
    void calendarExport()
    {
        // Debian's python, which has its icalendar package.
        const QString python3 = QFileInfo::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
        QProcess probe;
        probe.start(python3, { "-c", "import icalendar" });
        probe.waitForFinished();
        if (probe.exitCode() != 0) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("python3-icalendar is missing");
            QSKIP("python3-icalendar is missing");
        }
        WriteFile(Path("memo.txt"), "持ち物: 傘, 本; 鍵\n二行目");
        for (const auto& [date, options] : QList<std::pair<QString, QStringList>> {
                 { "2019/03/31", { "--schedule", "8=朝会", "--schedule", "18=" + QString(60, QChar(0x65e5)) } },
                 { "2019/10/27", { "--schedule", "12=昼, 食", "--memo-file", "memo.txt" } },
                 { "2020/01/01", { "--diary-file", "memo.txt" } } })
            QCOMPARE(Kivbook(QStringList { "put", book, date } + options).status, 0);
        QCOMPARE(Kivbook({ "export", book, Path("cal"), "--format", "ics" }, "Europe/Berlin").status, 0);
        const QByteArray ics = ReadFile(Path("cal/book.ics"));
        for (const QByteArray& line : ics.split('\n'))
            QVERIFY2(line.size() <= 76, line.constData()); // 75 octets and CR
        QProcess python;
        python.start(python3, { "-c", R"(import sys, icalendar
c = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())
for e in c.walk('VEVENT'):
    s, t = e.decoded('DTSTART'), e.decoded('DTEND')
    print(s.isoformat(), (t - s).seconds, s.tzinfo is not None, e['UID'], e['SUMMARY'], repr(str(e.get('DESCRIPTION', ''))))
)",
                                      Path("cal/book.ics") });
        QVERIFY(python.waitForFinished());
        const QStringList events = QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        const QString uid = events.value(0).section(' ', 3, 3).section('-', 1);
        QCOMPARE(events,
            QStringList({ "2019-03-31T08:00:00+02:00 3600 True 20190331T0800-" + uid + " 朝会 ''",
                "2019-03-31T18:00:00+02:00 3600 True 20190331T1800-" + uid + " " + QString(60, QChar(0x65e5)) + " ''",
                "2019-10-27T12:00:00+01:00 3600 True 20191027T1200-" + uid
                    + " 昼, 食 '持ち物: 傘, 本; 鍵\\n二行目'" }));
        // A second export gives the same UIDs.
        QCOMPARE(Kivbook({ "export", book, Path("cal2"), "--format", "ics" }, "Europe/Berlin").status, 0);
        auto uids = [](const QByteArray& text) {
            QByteArrayList found;
            for (const QByteArray& line : text.split('\n'))
                if (line.startsWith("UID:"))
                    found << line;
            return found;
        };
        QCOMPARE(uids(ReadFile(Path("cal2/book.ics"))), uids(ics));
    }

    void pdfHoldsEveryDiary()
    {
#ifndef KIV_PDF_BUILT
        QSKIP("a build without Qt Gui has no PDF writer");
#endif
        if (!Have("pdftotext"))
            QSKIP("no pdftotext");
        QStringList diaries;
        for (int day = 1; day <= 40; ++day) {
            diaries << QString("%1日目の日記、漢字とかなの文。").arg(day) + QString(day == 7 ? 900 : 0, QChar(0x3042));
            WriteFile(Path("d.txt"), diaries.last().toUtf8());
            QCOMPARE(Kivbook({ "put", book, QString("2021/01/%1").arg(day > 31 ? 31 : day, 2, 10, QChar('0')),
                              "--diary-file", "d.txt" })
                         .status,
                0);
        }
        diaries.remove(30, 9); // days 31 to 39 were written over by day 40
        QCOMPARE(Kivbook({ "put", book, "2021/02/01", "--picture",
                     samples + "/dayone/photos/75cac50aa3dc94645dbee48a24707f5a.jpeg" })
                     .status,
            0);
        QCOMPARE(Kivbook({ "export", book, Path("pdf"), "--format", "pdf" }).status, 0);
        QProcess pdftotext;
        pdftotext.start("pdftotext", { Path("pdf/book.pdf"), "-" });
        QVERIFY(pdftotext.waitForFinished());
        const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput()).remove('\n');
        for (const QString& diary : diaries)
            QVERIFY2(text.contains(diary.left(20)), qPrintable(diary.left(20)));
        const QByteArray pdf = ReadFile(Path("pdf/book.pdf"));
        QVERIFY(pdf.contains("/FontFile2")); // the font embedded
        QVERIFY(pdf.contains("/Subtype /Image")); // and the picture
    }
};

QTEST_GUILESS_MAIN(KivbookImportTest)
#include "tst_kivbook_import.moc"
