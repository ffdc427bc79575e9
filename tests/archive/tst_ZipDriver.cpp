// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "Error.h"
#include "FakeLibraries.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <map>

using namespace kiv;
using namespace kiv::archive;
using namespace kiv::archive::testing;

namespace {

using Fields = std::map<std::string, int>;

// The integer fields of the options that are not zero, by name.
Fields SetFields(const ZipOptions& o)
{
    const std::pair<const char*, std::int32_t> all[] = { { "fTemp", o.fTemp }, { "fSuffix", o.fSuffix },
        { "fEncrypt", o.fEncrypt }, { "fSystem", o.fSystem }, { "fVolume", o.fVolume }, { "fExtra", o.fExtra },
        { "fNoDirEntries", o.fNoDirEntries }, { "fExcludeDate", o.fExcludeDate }, { "fIncludeDate", o.fIncludeDate },
        { "fVerbose", o.fVerbose }, { "fQuiet", o.fQuiet }, { "fCRLF_LF", o.fCRLF_LF }, { "fLF_CRLF", o.fLF_CRLF },
        { "fJunkDir", o.fJunkDir }, { "fGrow", o.fGrow }, { "fForce", o.fForce }, { "fMove", o.fMove },
        { "fDeleteEntries", o.fDeleteEntries }, { "fUpdate", o.fUpdate }, { "fFreshen", o.fFreshen },
        { "fJunkSFX", o.fJunkSFX }, { "fLatestTime", o.fLatestTime }, { "fComment", o.fComment },
        { "fOffsets", o.fOffsets }, { "fPrivilege", o.fPrivilege }, { "fEncryption", o.fEncryption },
        { "fRecurse", o.fRecurse }, { "fRepair", o.fRepair } };
    Fields result;
    for (auto [name, value] : all)
        if (value != 0)
            result[name] = value;
    return result;
}

std::string ErrorOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

struct Translation {
    ZipCommand command;
    ZipOptions options {};
    std::vector<std::string> names;

    explicit Translation(const std::string& text)
    {
        TranslateZipCommand(text, command, options);
        for (int i = 0; i < command.count; ++i)
            names.emplace_back(command.names[i]);
    }
};

} // namespace

Q_DECLARE_METATYPE(Fields)

class ZipDriverTest : public QObject {
    Q_OBJECT

    Fixture f;

private slots:
    void init()
    {
        f = {};
        f.Install("/w");
    }

    void splitsWords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("only spaces split") << "-r  -D\tx" << QStringList { "-r", "-D\tx" };
        QTest::newRow("quoted keeps spaces")
            << " \"/Program Files/w/\"  \"a\"" << QStringList { "/Program Files/w/", "a" };
        QTest::newRow("quote inside word") << "ab\"c d" << QStringList { "ab\"c", "d" };
        QTest::newRow("unclosed quote takes the rest") << "-d \"a b" << QStringList { "-d", "a b" };
        QTest::newRow("only blanks") << " \r\n " << QStringList { "" };
    }
    void splitsWords()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        std::string rest = text.toStdString();
        QStringList got;
        while (!rest.empty())
            got << QString::fromStdString(NextCommandWord(rest));
        QCOMPARE(got, words);
    }

    void translatesBookCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<Fields>("fields");
        QTest::addColumn<QString>("rootDir");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("encrypt");
        const Fields addAll { { "fRecurse", 1 }, { "fNoDirEntries", -1 } };
        const Fields addOne { { "fNoDirEntries", -1 } };
        Fields addAllEncrypted = addAll, addOneEncrypted = addOne;
        addAllEncrypted["fEncrypt"] = addOneEncrypted["fEncrypt"] = -1;
        QTest::newRow("add all, encrypted")
            << R"(-r -D -e "/d/my.KIV" "/w/" "*.DAY")" << addAllEncrypted << "/w/" << QStringList { "*.DAY" } << true;
        QTest::newRow("add all") << R"(-r -D "/d/my.KIV" "/w/" "*.DAY")" << addAll << "/w/" << QStringList { "*.DAY" }
                                 << false;
        QTest::newRow("add one, encrypted") << R"(-D -e "/d/my.KIV" "/w/" "20010315.DAY")" << addOneEncrypted << "/w/"
                                            << QStringList { "20010315.DAY" } << true;
        QTest::newRow("add one") << R"(-D "/d/my.KIV" "/w/" "20010315.DAY")" << addOne << "/w/"
                                 << QStringList { "20010315.DAY" } << false;
        QTest::newRow("repair") << R"(-FF   "/d/my.KIV")" << Fields { { "fRepair", 2 } } << QString() << QStringList {}
                                << false;
        QTest::newRow("delete") << R"( -d "/d/my.KIV"  "20010315.DAY")" << Fields { { "fDeleteEntries", -1 } }
                                << QString() << QStringList { "20010315.DAY" } << false;
    }
    void translatesBookCommands()
    {
        QFETCH(QString, command);
        QFETCH(Fields, fields);
        QFETCH(QString, rootDir);
        QFETCH(QStringList, names);
        QFETCH(bool, encrypt);
        Translation t(command.toStdString());
        QCOMPARE(SetFields(t.options), fields);
        QCOMPARE(QString(t.command.archive), QString("/d/my.KIV"));
        QCOMPARE(QString(t.options.szRootDir), rootDir);
        QCOMPARE(t.options.szRootDir == nullptr, rootDir.isNull());
        QCOMPARE(t.command.count, int(names.size()));
        QCOMPARE(t.command.names == nullptr, names.isEmpty());
        QStringList got;
        for (const auto& name : t.names)
            got << QString::fromStdString(name);
        QCOMPARE(got, names);
        QCOMPARE(ZipEncrypt, encrypt);
        QVERIFY(!t.options.Date);
    }

    void translatesOptionLetters_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<Fields>("fields");
        QTest::newRow("F alone") << "-F" << Fields { { "fRepair", 1 } };
        QTest::newRow("F then other") << "-Fx" << Fields { { "fRepair", 1 } };
        QTest::newRow("FF") << "-FFx" << Fields { { "fRepair", 2 } };
        QTest::newRow("l alone") << "-l" << Fields { { "fLF_CRLF", -1 } };
        QTest::newRow("l then other") << "-lq" << Fields { { "fLF_CRLF", -1 } };
        QTest::newRow("ll") << "-ll" << Fields { { "fCRLF_LF", -1 } };
        QTest::newRow("only the first letter") << "-rD" << Fields { { "fRecurse", 1 } };
        QTest::newRow("R") << "-R" << Fields { { "fRecurse", 2 } };
        QTest::newRow("!$AJSX") << "-! -$ -A -J -S -X"
                                << Fields { { "fPrivilege", -1 }, { "fVolume", -1 }, { "fOffsets", -1 },
                                       { "fJunkSFX", -1 }, { "fSystem", -1 }, { "fExtra", -1 } };
        QTest::newRow("fgjkmouvz") << "-f -g -j -k -m -o -u -v -z"
                                   << Fields { { "fFreshen", -1 }, { "fGrow", -1 }, { "fJunkDir", -1 },
                                          { "fForce", -1 }, { "fMove", -1 }, { "fLatestTime", -1 }, { "fUpdate", -1 },
                                          { "fVerbose", -1 }, { "fComment", -1 } };
        QTest::newRow("q") << "-q" << Fields { { "fQuiet", -1 } };
        QTest::newRow("digit") << "-9" << Fields {};
    }
    void translatesOptionLetters()
    {
        QFETCH(QString, option);
        QFETCH(Fields, fields);
        Translation t(option.toStdString() + " b");
        QCOMPARE(SetFields(t.options), fields);
        QCOMPARE(QString(t.command.archive), QString("b"));
        QCOMPARE(t.command.count, 0);
    }

    void digitSetsLevelAndQuietSetsState()
    {
        Translation t("-3 -q b");
        QCOMPARE(t.options.fLevel, '3');
        QVERIFY(ZipQuiet);
        QVERIFY(!ZipEncrypt);
    }

    void dateOptionsTakeTheNextWord()
    {
        Translation include("-t 03152001 b");
        QCOMPARE(SetFields(include.options), (Fields { { "fIncludeDate", -1 } }));
        QCOMPARE(QString(include.options.Date), QString("03152001"));
        QCOMPARE(QString(include.command.archive), QString("b"));

        Translation exclude("-tt \"03 2001\" b");
        QCOMPARE(SetFields(exclude.options), (Fields { { "fExcludeDate", -1 } }));
        QCOMPARE(QString(exclude.options.Date), QString("03 2001"));
    }

    void passwordOptionTakesAtMost80Bytes()
    {
        Translation t("-P " + std::string(85, 'p') + " b");
        QCOMPARE(SetFields(t.options), (Fields { { "fEncrypt", -1 } }));
        QVERIFY(ZipEncrypt);
        QCOMPARE(std::string(ZipPassword.data()), std::string(80, 'p'));
        QCOMPARE(QString(t.command.archive), QString("b"));
    }

    void rejectsWrongOptions_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("message");
        QTest::newRow("t then other") << "-tx 2001 b"
                                      << "ｔオプションの記述が間違えています。";
        QTest::newRow("unknown letter") << "-D -x b"
                                        << "オプションに x はありません。";
        QTest::newRow("upper case E") << "-E b"
                                      << "オプションに E はありません。";
        QTest::newRow("double-byte letter") << "-あ b"
                                            << "オプションに あ はありません。";
    }
    void rejectsWrongOptions()
    {
        QFETCH(QString, command);
        QFETCH(QString, message);
        ZipCommand zipCommand;
        ZipOptions options {};
        QCOMPARE(
            QString::fromStdString(ErrorOf([&] { TranslateZipCommand(command.toStdString(), zipCommand, options); })),
            message);
    }

    void wordsAfterTheFirstNameAreNames()
    {
        Translation t(R"(-D "/d/b.KIV" "/w/" "N" -q "/x/")");
        QCOMPARE(t.names, (std::vector<std::string> { "N", "-q", "/x/" }));
        QCOMPARE(t.options.fQuiet, 0);
        QVERIFY(!ZipQuiet);
    }

    void separatorWordBeforeTheArchiveIsTheArchive()
    {
        Translation t(R"("/d/" "/w/" "/v/")");
        QCOMPARE(QString(t.command.archive), QString("/d/"));
        QCOMPARE(QString(t.options.szRootDir), QString("/w/"));
        QCOMPARE(t.names, std::vector<std::string> { "/v/" });
    }

    void storesAtMost1024NamesInOrder()
    {
        std::string command = "-D b";
        std::vector<std::string> expected;
        for (int i = 0; i < 1025; ++i) {
            std::string name = "n";
            name += std::to_string(i);
            name += ".DAY";
            command += " " + name;
            if (i < 1024)
                expected.push_back(name);
        }
        Translation t(command);
        QCOMPARE(t.command.count, 1024);
        QVERIFY(t.names == expected);
    }

    void runHandsTheRecordsToTheLibrary()
    {
        QTemporaryDir temp;
        qputenv("TMPDIR", temp.path().toUtf8());
        f.zip.result = 18;
        QCOMPARE(RunZipCommand(R"(-D "/d/b.KIV" "/w/" "20010315.DAY")"), 18);
        qunsetenv("TMPDIR");
        QCOMPARE(f.zip.calls, (std::vector<std::string> { "Init", "SetOptions", "Archive" }));
        QVERIFY(f.zip.callbacks.print == &PrintCallback);
        QVERIFY(f.zip.callbacks.comment == &CommentCallback);
        QVERIFY(f.zip.callbacks.password == &PasswordCallback);
        QVERIFY(f.zip.callbacks.service == nullptr);
        QCOMPARE(f.zip.run.options.fLevel, '6');
        QCOMPARE(SetFields(f.zip.run.options), (Fields { { "fTemp", -1 }, { "fNoDirEntries", -1 } }));
        QCOMPARE(*f.zip.run.tempDir, temp.path().toStdString() + "/");
        QCOMPARE(*f.zip.run.rootDir, std::string("/w/"));
        QCOMPARE(*f.zip.run.archive, std::string("/d/b.KIV"));
        QCOMPARE(f.zip.run.names, std::vector<std::string> { "20010315.DAY" });
    }

    void runWithoutTemporaryDirectoryFailsBeforeArchiving()
    {
        // A folder that does not exist is named all the same: the Zip
        // library writes beside the book. A name that does not fit fails.
        qputenv("TMPDIR", "/nonexistent/kiv-temp");
        QCOMPARE(RunZipCommand(R"(-FF   "/d/b.KIV")"), 0);
        QCOMPARE(*f.zip.run.tempDir, std::string("/nonexistent/kiv-temp/"));
        f.zip.calls.clear();
        qputenv("TMPDIR", "/" + QByteArray(300, 'x'));
        const std::string error = ErrorOf([] { RunZipCommand(R"(-FF   "/d/b.KIV")"); });
        qunsetenv("TMPDIR");
        QCOMPARE(QString::fromStdString(error), QString("テンポラリーディレクトリーの取得に失敗しました。"));
        QCOMPARE(f.zip.calls, std::vector<std::string> { "Init" });
    }

    void runWithWrongOptionFailsBeforeArchiving()
    {
        QCOMPARE(QString::fromStdString(ErrorOf([] { RunZipCommand("-D -w b"); })),
            QString("オプションに w はありません。"));
        QCOMPARE(f.zip.calls, std::vector<std::string> { "Init" });
    }

    void eachRunStartsWithoutPasswordEncryptionOrQuiet()
    {
        RunZipCommand("-e -q -P secret b");
        bool encrypt = true, quiet = true;
        std::string password = "?";
        f.zip.duringArchive = [&] {
            encrypt = ZipEncrypt;
            quiet = ZipQuiet;
            password = ZipPassword.data();
        };
        RunZipCommand("-D b");
        QVERIFY(!encrypt);
        QVERIFY(!quiet);
        QCOMPARE(password, std::string());
    }

    void passwordAskedOncePerEncryptingRun()
    {
        f.password.answers = { "first", "second" };
        std::vector<std::pair<int, std::string>> answers;
        f.zip.duringArchive = [&] {
            for (int i = 0; i < 2; ++i) {
                char buffer[100];
                std::memset(buffer, 'x', sizeof buffer);
                int result = f.zip.callbacks.password(buffer, sizeof buffer, "Enter password: ", "/d/b.KIV");
                answers.emplace_back(result, buffer);
            }
        };
        RunZipCommand("-D -e b n");
        QCOMPARE(f.password.asked, 1);
        RunZipCommand("-D -e b n");
        QCOMPARE(f.password.asked, 2);
        QVERIFY(std::all_of(ZipPassword.begin(), ZipPassword.end(), [](char c) { return c == '\0'; }));
        using Answers = std::vector<std::pair<int, std::string>>;
        QVERIFY(answers == (Answers { { 0, "first" }, { 0, "first" }, { 0, "second" }, { 0, "second" } }));
    }

    void passwordNotGivenWhenNotEncryptingOrCancelled()
    {
        char buffer[8] = "keep";
        QCOMPARE(PasswordCallback(buffer, sizeof buffer, "", ""), 1);
        QCOMPARE(f.password.asked, 0);
        QCOMPARE(std::string(buffer), std::string("keep"));

        ZipEncrypt = true;
        f.password.answers = { std::nullopt };
        QCOMPARE(PasswordCallback(buffer, sizeof buffer, "", ""), 1);
        QCOMPARE(f.password.asked, 1);
        QCOMPARE(std::string(buffer), std::string("keep"));
        QCOMPARE(ZipPassword[0], '\0');
    }

    void passwordCopyNeverExceedsTheLibrarysBuffer()
    {
        ZipEncrypt = true;
        f.password.answers = { "abcdefgh" };
        char buffer[8];
        std::memset(buffer, 'x', sizeof buffer);
        char guard = 'g';
        QCOMPARE(PasswordCallback(buffer, 5, "", ""), 0);
        QCOMPARE(std::string(buffer), std::string("abcd"));
        QCOMPARE(buffer[5], 'x');
        QCOMPARE(guard, 'g');
        QCOMPARE(std::string(ZipPassword.data()), std::string("abcdefgh"));
    }

    void passwordLimitNeverCutsADoubleByteCharacter()
    {
        const std::string a = "\x82\xa0"; // "あ" in code page 932
        QCOMPARE(LimitPassword(std::string(79, 'p') + a), std::string(79, 'p'));
        QCOMPARE(LimitPassword(std::string(78, 'p') + a + "q"), std::string(78, 'p') + a);
        QCOMPARE(LimitPassword(std::string(81, 'p')), std::string(80, 'p'));
    }

    void outputBecomesLinesOneAtATime()
    {
        QCOMPARE(PrintCallback("  adding: 20010315", 0), 18);
        QVERIFY(f.output.lines.empty());
        QCOMPARE(PrintCallback(".DAY (deflated 40%)\n  adding: b\nc\n", 0), 34);
        QCOMPARE(f.output.lines, std::vector<std::string> { "adding: 20010315.DAY (deflated 40%)" });
        QCOMPARE(ZipOutputPending, std::string("  adding: b\nc\n"));
        QCOMPARE(f.output.repaints, 1);
        QCOMPARE(f.output.shows, 1);

        // The rest comes out with later calls, also in a later run.
        f.output.active = true;
        f.zip.duringArchive = [] { PrintCallback("", 0); };
        RunZipCommand("-D b n");
        QCOMPARE(f.output.lines, (std::vector<std::string> { "adding: 20010315.DAY (deflated 40%)", "adding: b" }));
        QCOMPARE(f.output.shows, 1);
        QCOMPARE(ZipOutputPending, std::string("c\n"));
    }

    void outputInCodePage932ReachesTheWindowAsUtf8()
    {
        PrintCallback("\x93\xfa\x8b\x4c\n", 0); // "日記"
        QCOMPARE(f.output.lines, std::vector<std::string> { "日記" });
    }

    void quietRunPrintsNothingAndKeepsPending()
    {
        ZipOutputPending = "partial";
        f.zip.duringArchive = [] { QCOMPARE(PrintCallback("line\n", 5), 0); };
        RunZipCommand("-q -D b n");
        QVERIFY(f.output.lines.empty());
        QCOMPARE(ZipOutputPending, std::string("partial"));
    }

    void commentGoesToTheOutputWindow()
    {
        QVERIFY(CommentCallback(nullptr) == nullptr);
        char* none = nullptr;
        QVERIFY(CommentCallback(&none) == nullptr);
        QVERIFY(f.output.lines.empty());
        char text[] = " one\r\ntwo\rthree\n\n";
        char* comment = text;
        QVERIFY(CommentCallback(&comment) == text);
        QCOMPARE(f.output.lines, std::vector<std::string> { "one\ntwo\nthree" });
        QCOMPARE(f.output.shows, 1);
    }

    void versionComesFromTheLibrarysBytes()
    {
        f.zip.version.library[0] = 2;
        f.zip.version.library[1] = 3;
        f.zip.version.library[2] = 1;
        f.zip.version.zip[0] = 9;
        QCOMPARE(GetZipVersion(), 231);
    }
};

QTEST_APPLESS_MAIN(ZipDriverTest)
#include "tst_ZipDriver.moc"
