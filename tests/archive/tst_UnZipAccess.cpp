// SPDX-License-Identifier: GPL-3.0-or-later
#include "Archive.h"
#include "Error.h"
#include "Files.h"
#include "FakeLibraries.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>

using namespace kiv;
using namespace kiv::archive;
using namespace kiv::archive::testing;

namespace {

using Calls = std::vector<std::string>;

const std::string kBook = "/d/my.KIV";
const std::string kOpened[] = { "CheckArchive \"/d/my.KIV\" 1", "OpenArchive \"/d/my.KIV\" 6389778" };

} // namespace

class UnZipAccessTest : public QObject {
    Q_OBJECT

    Fixture f;

    // Extracts a member of the given recorded size whose library hands over
    // more bytes than that.
    MemoryStream ExtractSized(std::uint32_t size)
    {
        f.unzip.members["20010315.DAY"] = "";
        f.unzip.sizes["20010315.DAY"] = size;
        f.unzip.extractBytes.clear();
        for (std::uint32_t i = 0; i < size + 100; ++i)
            f.unzip.extractBytes += char('a' + i % 26);
        MemoryStream stream;
        const bool ok = ExtractDay(kBook, "/w/20010315.DAY", stream);
        if (!ok)
            qWarning("extraction failed");
        return stream;
    }

private slots:
    void init()
    {
        f = {};
        f.Install("/w");
    }

    void extractsIntoABufferRoundedUpTo128_data()
    {
        QTest::addColumn<std::uint32_t>("size");
        QTest::addColumn<std::uint32_t>("capacity");
        QTest::newRow("0") << 0u << 128u;
        QTest::newRow("127") << 127u << 128u;
        QTest::newRow("128") << 128u << 256u;
        QTest::newRow("256") << 256u << 384u;
        QTest::newRow("1000") << 1000u << 1024u;
    }
    void extractsIntoABufferRoundedUpTo128()
    {
        QFETCH(std::uint32_t, size);
        QFETCH(std::uint32_t, capacity);
        MemoryStream stream = ExtractSized(size);
        QCOMPARE(f.unzip.extractSize, capacity);
        QCOMPARE(stream.Size(), std::size_t(size));
        QCOMPARE(stream.Position(), std::size_t(size));
        QVERIFY(std::equal(stream.Bytes().begin(), stream.Bytes().end(), f.unzip.extractBytes.begin()));
        QVERIFY(f.prompts.shown().empty());
    }

    void extractionCommandAndCallsAreExact()
    {
        f.unzip.members["20010315.DAY"] = "day";
        f.unzip.extractBytes = "day";
        MemoryStream stream;
        stream.Write("xyz", 3);
        stream.SetPosition(1);
        QVERIFY(ExtractDay(kBook, "/w/20010315.DAY", stream));
        QCOMPARE(f.unzip.extractCommand, std::string(R"( -x -s --i -C   "/d/my.KIV"   "/w/"  "20010315.DAY")"));
        QCOMPARE(f.unzip.calls,
            (Calls {
                kOpened[0], kOpened[1], "FindFirst 7 20010315.DAY", "GetRunning", "ExtractMem", "CloseArchive 7" }));
        QCOMPARE(BookHandle, HARC(0));
        // Written at the stream's position, which is left after the bytes.
        QCOMPARE(std::string(stream.Bytes().begin(), stream.Bytes().end()), std::string("xday"));
        QCOMPARE(stream.Position(), std::size_t(4));
    }

    void bareNameAndFullPathExtractTheSameMember()
    {
        f.unzip.members["20010315.DAY"] = "day";
        MemoryStream stream;
        ExtractDay(kBook, "20010315.DAY", stream);
        const std::string bare = f.unzip.extractCommand;
        ExtractDay(kBook, "/home/u/days/20010315.DAY", stream);
        QCOMPARE(f.unzip.extractCommand, bare);
    }

    void memberNameIsTheLastPathComponent_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("bare") << QByteArray("20010315.DAY") << QByteArray("20010315.DAY");
        QTest::newRow("directories") << QByteArray("/a/b/20010315.DAY") << QByteArray("20010315.DAY");
        QTest::newRow("trailing separator") << QByteArray("/a/b/") << QByteArray("");
        // UTF-8 "ぁ" ends in 0x81, a code page 932 lead byte: the separator
        // after it still counts.
        QTest::newRow("utf-8 directory") << QByteArray("/日記ぁ/20010315.DAY") << QByteArray("20010315.DAY");
        // A code page 932 double-byte character is one character.
        QTest::newRow("cp932 directory") << QByteArray("/\x93\xfa\x8b\x4c/x.DAY") << QByteArray("x.DAY");
    }
    void memberNameIsTheLastPathComponent()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, name);
        QCOMPARE(QByteArray::fromStdString(MemberName(path.toStdString())), name);
    }

    void eachErrorCodeShowsItsMessage_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const std::pair<int, const char*> table[] = {
            { 0x8005, "解凍するためのディスクの空き容量が足りません。" },
            { 0x8006, "解凍先のファイルはリードオンリーです。" },
            { 0x8007, "ユーザーによって解凍をスキップされました。" },
            { 0x8008, "格納ファイルの種類が　MS-DOS で扱える形式以外です。" },
            { 0x8009, "UNZIP32.DLL で扱えない格納モードになっています。" },
            { 0x800A, "格納ファイルにパスワードがかかっています。" },
            { 0x800B, "格納ファイルは　UNZIP32.DLL が対応していないバージョンの形式です。" },
            { 0x800C, "格納ファイルのチェックサムがあっていません。" },
            { 0x800D, "解凍時にファイルを開けませんでした。" },
            { 0x800E, "格納ファイルの中のものより新しいファイルが解凍先に存在します。" },
            { 0x800F, "ファイルは解凍先に存在しません。" },
            { 0x8010, "ファイルはすでに解凍先に存在します。" },
            { 0x8011,
                "格納ファイル数が限界を超えています。処理は正常に行われていますが、限界を超えた部分については情報が得ら"
                "れていません。" },
            { 0x8012, "ディレクトリーが作成できません。" },
            { 0x8013, "解凍中に書き込みエラーが発生しました。" },
            { 0x8014, "格納ファイルのハフマンコードが壊れています。" },
            { 0x8015, "格納ファイルのコメントヘッダーが壊れています。" },
            { 0x8016, "格納ファイルのヘッダーのチェックサムが合っていません。" },
            { 0x8017, "格納ファイルのヘッダーが壊れています。" },
            { 0x8018, "格納ファイルを開くことが出来ません。" },
            { 0x8019, "指定したファイルは、書庫ではありません。" },
            { 0x801A, "格納ファイルで読み込みエラーが発生しました。" },
            { 0x801B, "指定されたファイルは、書庫ではありません。" },
            { 0x801C, "コマンド指定が間違っています。" },
            { 0x801D, "作業用のヒープメモリーが不足しています。" },
            { 0x801E, "グローバルメモリーが不足しています。" },
            { 0x801F, "すでに UNZIP32.DLL が別のプロセスから呼ばれています。" },
            { 0x8000, "解凍中にエラーが発生しました。" },
            { 0x8020, "解凍中にエラーが発生しました。" },
            { 0x8100, "解凍中にエラーが発生しました。" },
            { -1, "解凍中にエラーが発生しました。" },
        };
        for (auto [code, message] : table)
            QTest::addRow("0x%x", code) << code << QString::fromUtf8(message);
    }
    void eachErrorCodeShowsItsMessage()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        f.unzip.members["20010315.DAY"] = "day";
        f.unzip.extractCode = code;
        MemoryStream stream;
        QVERIFY(!ExtractDay(kBook, "20010315.DAY", stream));
        QCOMPARE(stream.Size(), std::size_t(0));
        QCOMPARE(f.Messages(), std::vector<std::string> { "beep|" + message.toStdString() });
        const auto shown = f.prompts.messages().front();
        QCOMPARE(shown.icon, Icon::Error);
        QCOMPARE(shown.buttons, Buttons::Ok);
        QCOMPARE(BookHandle, HARC(0));
    }

    void busyLibraryIsNotCalled()
    {
        f.unzip.members["20010315.DAY"] = "day";
        f.unzip.running = 1;
        MemoryStream stream;
        QVERIFY(!ExtractDay(kBook, "20010315.DAY", stream));
        QCOMPARE(f.Messages(),
            std::vector<std::string> { "beep|UnZip32.dll は、現在ほかのプロセスに呼び出されていて、使えません。" });
        QCOMPARE(f.unzip.calls.back(), std::string("CloseArchive 7"));
        QVERIFY(std::count(f.unzip.calls.begin(), f.unzip.calls.end(), "ExtractMem") == 0);
        QVERIFY(std::count(f.unzip.calls.begin(), f.unzip.calls.end(), "GetRunning") == 1);
    }

    void failedOpenStillAttemptsTheExtraction()
    {
        f.unzip.check = 0;
        f.unzip.extractCode = 0x8019;
        MemoryStream stream;
        QVERIFY(!ExtractDay(kBook, "20010315.DAY", stream));
        QCOMPARE(f.Messages(),
            (std::vector<std::string> { "beep|選んだファイルは、書庫として正しくありません。",
                "beep|指定したファイルは、書庫ではありません。" }));
        QCOMPARE(f.unzip.calls, (Calls { kOpened[0], "FindFirst 0 20010315.DAY", "GetRunning", "ExtractMem" }));
        QCOMPARE(f.unzip.extractSize, 128u);
    }

    void memberNotInTheBookIsStillAskedFor()
    {
        f.unzip.extractBytes = "ignored";
        MemoryStream stream;
        QVERIFY(ExtractDay(kBook, "20990101.DAY", stream));
        QCOMPARE(stream.Size(), std::size_t(0));
        QCOMPARE(f.unzip.extractSize, 128u);
        QVERIFY(f.unzip.extractCommand.ends_with("\"20990101.DAY\""));
    }

    void memberTooLargeStopsWithAnErrorAndClosesTheBook()
    {
        // 2 GiB and more cannot be a size at all; beyond the limit of what
        // the program reads whole, no buffer is taken for it either.
        for (std::uint32_t size : { 0x80000000u, std::uint32_t(kMaxFileBytes + 1) }) {
            f.unzip.calls.clear();
            f.unzip.members["20010315.DAY"] = "";
            f.unzip.sizes["20010315.DAY"] = size;
            MemoryStream stream;
            QString error;
            try {
                ExtractDay(kBook, "20010315.DAY", stream);
            } catch (const Error& e) {
                error = QString::fromUtf8(e.what());
            }
            QCOMPARE(error, QString("格納ファイル 20010315.DAY は大きすぎて扱えません。"));
            QCOMPARE(std::count(f.unzip.calls.begin(), f.unzip.calls.end(), "ExtractMem"), 0);
            QCOMPARE(f.unzip.calls.back(), std::string("CloseArchive 7"));
            QCOMPARE(BookHandle, HARC(0));
        }
    }

    void sizeTheBookCannotHoldIsADamagedHeader()
    {
        // A book of 10 bytes unpacks to 10320 bytes at most.
        QTemporaryDir temp;
        const std::string book = temp.filePath("small.KIV").toStdString();
        std::ofstream(book, std::ios::binary) << "0123456789";
        f.unzip.members["20010315.DAY"] = "";
        MemoryStream stream;

        f.unzip.sizes["20010315.DAY"] = 10320;
        QVERIFY(ExtractDay(book, "20010315.DAY", stream));
        QCOMPARE(f.unzip.extractSize, 10368u);

        f.unzip.calls.clear();
        for (std::uint32_t size : { 10321u, 0x7FFFFF00u }) {
            f.unzip.sizes["20010315.DAY"] = size;
            QVERIFY(!ExtractDay(book, "20010315.DAY", stream));
        }
        QCOMPARE(f.Messages(),
            (std::vector<std::string> {
                "beep|格納ファイルのヘッダーが壊れています。", "beep|格納ファイルのヘッダーが壊れています。" }));
        QCOMPARE(std::count(f.unzip.calls.begin(), f.unzip.calls.end(), "ExtractMem"), 0);
        QCOMPARE(f.unzip.calls.back(), std::string("CloseArchive 7"));
        QCOMPARE(BookHandle, HARC(0));
        QCOMPARE(stream.Size(), std::size_t(10320));
    }

    // The handle of an open book is handed out again for that book without
    // asking the library; for another book it is closed first.
    void openBookIsHandedOutAgainForItsOwnBookOnly()
    {
        QVERIFY(OpenBookArchive(kBook));
        f.unzip.calls.clear();
        QVERIFY(OpenBookArchive(kBook));
        QVERIFY(f.unzip.calls.empty());
        QVERIFY(OpenBookArchive("/other/book.KIV"));
        QCOMPARE(f.unzip.calls.size(), std::size_t(3)); // the close, then the check and opening of the other
        QCOMPARE(f.unzip.calls.front(), std::string("CloseArchive 7"));
        CloseBookArchive();
    }

    void bookThatDoesNotOpenIsReported()
    {
        f.unzip.handle = 0;
        QVERIFY(!OpenBookArchive(kBook));
        QCOMPARE(f.Messages(), std::vector<std::string> { "beep|書庫を開けません。" });
        QCOMPARE(BookHandle, HARC(0));
    }

    void failedCloseKeepsTheHandleWithoutABeep()
    {
        QVERIFY(OpenBookArchive(kBook));
        f.unzip.closeResult = 1;
        CloseBookArchive();
        QCOMPARE(f.Messages(), std::vector<std::string> { "書庫を閉じられません。" });
        QCOMPARE(BookHandle, HARC(7));
        f.unzip.calls.clear();
        f.unzip.closeResult = 0;
        CloseBookArchive();
        CloseBookArchive();
        QCOMPARE(f.unzip.calls, Calls { "CloseArchive 7" });
        QCOMPARE(BookHandle, HARC(0));
    }
};

QTEST_APPLESS_MAIN(UnZipAccessTest)
#include "tst_UnZipAccess.moc"
