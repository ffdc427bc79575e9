// SPDX-License-Identifier: GPL-3.0-or-later
// kivbook merge on two copies of one book, each written after they split.
#include "Archive.h"
#include "BookMerge.h"
#include "Cp932.h"
#include "DayJoin.h"
#include "KivbookRun.h"
#include "ScriptedPrompts.h"
#include "TDayBook.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace kiv;

namespace {

struct Password : archive::PasswordSource {
    bool AskPassword(std::string& password) override
    {
        password = "pw";
        return true;
    }
};

// One version of a day in one copy.
struct Version {
    Version(const char* diary_ = nullptr, const char* weather_ = "", std::time_t time_ = 0, bool encrypted_ = false,
            QByteArray picture_ = {})
        : diary(diary_), weather(weather_), time(time_), encrypted(encrypted_), picture(std::move(picture_))
    {
    }
    const char* diary; // nullptr: the copy has no such day
    const char* weather;
    std::time_t time;
    bool encrypted;
    QByteArray picture;
};

TDayBook DayOf(const Version& version)
{
    TDayBook day;
    day.Diary = Cp932FromUtf8(version.diary);
    day.Weather = Cp932FromUtf8(version.weather);
    if (!version.picture.isEmpty())
        day.SetPhotoData(version.picture.constData(), static_cast<std::int32_t>(version.picture.size()),
                         TDayBook::kJpeg);
    return day;
}

std::vector<std::uint8_t> BytesOf(const TDayBook& day)
{
    MemoryStream stream;
    day.Write(stream);
    return { stream.Data(), stream.Data() + stream.Size() };
}

} // namespace

class KivbookMergeTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp;
    ScriptedPrompts prompts;
    Password password;

    QString Path(const QString& name) const { return temp.filePath(name); }

    void SetUpHost(const QString& work)
    {
        archive::Host host;
        host.prompts = &prompts;
        host.password = &password;
        host.workingDirectory = work.toStdString();
        archive::SetHost(host);
    }

    // Writes each day into book by the program's own add operation, the
    // member keeping the version's time.
    void Write(const QString& book, const QString& member, const Version& version)
    {
        QDir().mkpath(Path("work"));
        const QString file = Path("work/" + member);
        const std::vector<std::uint8_t> bytes = BytesOf(DayOf(version));
        WriteFile(file, QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
        const struct timespec times[2] = { { version.time, 0 }, { version.time, 0 } };
        QCOMPARE(::utimensat(AT_FDCWD, file.toLocal8Bit().constData(), times, 0), 0);
        SetUpHost(Path("work"));
        QVERIFY(archive::AddDayFile(book.toStdString(), member.toStdString(), version.encrypted));
        QFile::remove(file);
    }

    std::optional<archive::StoredDay> Stored(const QString& book, const QString& member)
    {
        SetUpHost(Path("work"));
        return archive::FindStoredDay(book.toStdString(), member.toStdString());
    }

    Run Merge(const QStringList& extra = {})
    {
        QProcess process;
        process.setWorkingDirectory(temp.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LANG", "C");
        environment.remove("LC_ALL");
        environment.remove("LANGUAGE");
        environment.insert("TMPDIR", Path("tmp"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KIVBOOK_PATH),
                      QStringList { "merge", Path("book.KIV"), Path("other.KIV"), "--password-file", Path("pw") }
                          + extra);
        if (!process.waitForStarted())
            qFatal("kivbook does not start");
        return Finish(process, {});
    }

private slots:
    void init()
    {
        QDir(temp.path()).removeRecursively();
        QDir().mkpath(Path("tmp"));
        WriteFile(Path("pw"), "pw\n");
    }

    // Every rule on a day of its own, in one merge.
    void mergeLosesNothingAndConverges()
    {
        const std::time_t early = 1600000000, late = early + 3600;
        const QByteArray jpegA("\xff\xd8 first", 8), jpegB("\xff\xd8 second", 9);
        struct Row {
            const char* member;
            Version mine, theirs;
            const char* change; // the output's word; nullptr: counted as the same
            Version expected;   // the book's day afterwards
            bool byteForByteTheirs;
        };
        const Row rows[] = {
            { "20200101.DAY", {}, { "only theirs", "", early }, "added", { "only theirs" }, true },
            { "20200102.DAY", { "same", "", early }, { "same", "", late }, nullptr, { "same" }, false },
            { "20200103.DAY", { "mine", "晴れ", early }, { "theirs", "雨", late }, "extended", { "", "雨 / 晴れ" }, false },
            { "20200104.DAY", { "mine and theirs", "", late }, { "theirs", "", early }, "kept", { "mine and theirs" }, false },
            { "20200105.DAY", { "mine", "", early }, { "mine, then theirs", "", late }, "extended", { "mine, then theirs" },
              true },
            { "20200106.DAY", { "x", "", late, false, jpegA }, { "x", "", early, false, jpegB }, "kept",
              { "x", "", 0, false, jpegA }, false },
            { "20200107.DAY", { "secret mine", "", early, true }, { "secret theirs", "", late, true }, "extended",
              { "", "", 0, true }, false },
            { "20200108.DAY", {}, { "secret only theirs", "", early, true }, "added", { "secret only theirs", "", 0, true },
              true },
        };
        for (const Row& row : rows) {
            if (row.mine.diary)
                Write(Path("book.KIV"), row.member, row.mine);
            Write(Path("other.KIV"), row.member, row.theirs);
        }
        const QByteArray otherBefore = ReadFile(Path("other.KIV"));
        const QByteArray bookBefore = ReadFile(Path("book.KIV"));

        const Run dry = Merge({ "--dry-run" });
        QCOMPARE(dry.status, 0);
        QVERIFY(dry.out.endsWith("dry run: nothing was written\n"));
        QCOMPARE(ReadFile(Path("book.KIV")), bookBefore);
        QVERIFY(!QFile::exists(Path("book-20200106.jpg")));

        const Run run = Merge();
        QVERIFY2(run.status == 0, run.err.constData());
        QCOMPARE(ReadFile(Path("other.KIV")), otherBefore);
        // Plain and encrypted days go in with a run each: the previous book
        // kept is the one before the last run.
        QVERIFY(QFile::exists(Path("book.KIV~")));
        QCOMPARE(run.out, dry.out.left(dry.out.lastIndexOf("dry run")));
        QVERIFY(run.out.endsWith("2 added, 3 extended, 2 kept, 1 the same\n"));
        QVERIFY(run.out.contains("  the other picture: " + Path("book-20200106.jpg").toUtf8() + "\n"));
        QCOMPARE(ReadFile(Path("book-20200106.jpg")), jpegB);

        for (const Row& row : rows) {
            const QString member = row.member;
            const QString date = member.left(4) + "/" + member.mid(4, 2) + "/" + member.mid(6, 2);
            if (row.change)
                QVERIFY2(run.out.contains(QString("%1 %2\n").arg(row.change, date).toUtf8()), row.member);
            const std::optional<archive::StoredDay> day = Stored(Path("book.KIV"), member);
            QVERIFY2(day.has_value(), row.member);
            QCOMPARE(day->encrypted, row.expected.encrypted);
            if (row.byteForByteTheirs) {
                QVERIFY2(day->bytes == BytesOf(DayOf(row.theirs)), row.member);
                // An encrypted day is sealed anew, dated at the merge.
                if (!row.theirs.encrypted)
                    QCOMPARE(day->time, row.theirs.time);
            }
            const TDayBook joined = archive::DayOfBytes(day->bytes);
            // Every text of both versions is in the book.
            for (const Version* version : { &row.mine, &row.theirs })
                if (version->diary) {
                    QVERIFY2(HoldsText(joined.Diary, Cp932FromUtf8(version->diary)), row.member);
                    QVERIFY2(HoldsText(joined.Weather, Cp932FromUtf8(version->weather)), row.member);
                }
            if (*row.expected.diary)
                QCOMPARE(Utf8FromCp932(joined.Diary), std::string(row.expected.diary));
            if (*row.expected.weather)
                QCOMPARE(Utf8FromCp932(joined.Weather), std::string(row.expected.weather));
            if (!row.expected.picture.isEmpty())
                QCOMPARE(QByteArray(reinterpret_cast<const char*>(joined.PhotoData().data()), joined.PhotoSize()),
                         row.expected.picture);
        }
        // The diary of two versions names the older's time on its line.
        const TDayBook both = archive::DayOfBytes(Stored(Path("book.KIV"), "20200103.DAY")->bytes);
        QCOMPARE(both.Diary, Cp932FromUtf8("theirs\r\n") + OtherVersionLine(early) + Cp932FromUtf8("\r\nmine"));

        // Merging again changes nothing.
        const QByteArray merged = ReadFile(Path("book.KIV"));
        const Run again = Merge();
        QCOMPARE(again.status, 0);
        QCOMPARE(ReadFile(Path("book.KIV")), merged);
        QVERIFY2(again.out.endsWith("0 added, 0 extended, 4 kept, 4 the same\n"), again.out.constData());
        QVERIFY(!QFile::exists(Path("book-20200106-2.jpg")));
        archive::SetHost({});
    }

    void refusesTheBookItselfAndMissingCopies()
    {
        Write(Path("book.KIV"), "20200101.DAY", { "a", "", 1600000000 });
        QFile::link(Path("book.KIV"), Path("other.KIV"));
        Run itself = Merge();
        QCOMPARE(itself.status, 1);
        QVERIFY(itself.err.contains("is the book itself"));
        QFile::remove(Path("other.KIV"));
        Run missing = Merge();
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.err.contains("no such book"));
        archive::SetHost({});
    }
};

QTEST_GUILESS_MAIN(KivbookMergeTest)
#include "tst_kivbook_merge.moc"
