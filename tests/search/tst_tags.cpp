// SPDX-License-Identifier: GPL-3.0-or-later
// Tags and the folded comparison of texts.
#include "Cp932.h"
#include "Fold.h"
#include "KeywordTest.h"
#include "Tags.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace kiv;

class tst_Tags : public QObject {
    Q_OBJECT

private slots:
    void tagsAndTheirKeys_data();
    void tagsAndTheirKeys();
    void everyCharacterFoldsAsUnicodeSays();
    void hitsOfAFoldedSearchCoverTheirOriginalBytes();
};

void tst_Tags::tagsAndTheirKeys_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown"); // each tag found, NFKC
    QTest::addColumn<QStringList>("keys"); // and its key

    QTest::newRow("ends at a blank") << "a #旅行 b" << QStringList{"#旅行"} << QStringList{"#旅行"};
    QTest::newRow("ends at an ideographic space") << "#旅行　b" << QStringList{"#旅行"} << QStringList{"#旅行"};
    QTest::newRow("ends at a line break") << "#旅行\r\nb" << QStringList{"#旅行"} << QStringList{"#旅行"};
    QTest::newRow("ends at the end") << "x#旅行" << QStringList{"#旅行"} << QStringList{"#旅行"};
    QTest::newRow("ends at punctuation") << "#a、#b。#c，#d．#e,#f.#g!#h?#i！#j？「#k」『#l』（#m）(#n)【#o】[#p]"
                                         << QStringList{"#a", "#b", "#c", "#d", "#e", "#f", "#g", "#h",
                                                        "#i", "#j", "#k", "#l", "#m", "#n", "#o", "#p"}
                                         << QStringList{"#a", "#b", "#c", "#d", "#e", "#f", "#g", "#h",
                                                        "#i", "#j", "#k", "#l", "#m", "#n", "#o", "#p"};
    QTest::newRow("other punctuation belongs to the tag")
        << "#a:b/c-d・e" << QStringList{"#a:b/c-d・e"} << QStringList{"#a:b/c-d・e"};
    QTest::newRow("a hash alone is no tag") << "# ＃　#。#" << QStringList{} << QStringList{};
    QTest::newRow("a hash inside a tag is part of it")
        << "##x #a#b" << QStringList{"##x", "#a#b"} << QStringList{"##x", "#a#b"};
    QTest::newRow("full-width hash, shown half width") << "＃旅行" << QStringList{"#旅行"} << QStringList{"#旅行"};
    QTest::newRow("half-width kana are one tag with full-width")
        << "#ｶﾒﾗ #カメラ #ｶﾞｲﾄﾞ" << QStringList{"#カメラ", "#カメラ", "#ガイド"}
        << QStringList{"#カメラ", "#カメラ", "#ガイド"};
    QTest::newRow("case and width do not count, the shown form keeps case")
        << "#PC ＃ＰＣ #pc" << QStringList{"#PC", "#PC", "#pc"} << QStringList{"#pc", "#pc", "#pc"};
    QTest::newRow("compatibility characters") << "#Ⅲ #①" << QStringList{"#III", "#1"} << QStringList{"#iii", "#1"};
    QTest::newRow("a tag in a double-byte character's trail is none") << "表#" << QStringList{} << QStringList{};
}

void tst_Tags::tagsAndTheirKeys()
{
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, keys);
    QStringList gotShown, gotKeys;
    for (const Tag& tag : TagsIn(Cp932FromUtf8(text.toStdString()))) {
        gotShown << QString::fromStdString(tag.shown);
        gotKeys << QString::fromStdString(tag.key);
        QCOMPARE(QString::fromStdString(TagKey(tag.written)), gotKeys.last());
    }
    QCOMPARE(gotShown, shown);
    QCOMPARE(gotKeys, keys);
}

// Every character of the code page, and each with a half-width sound mark
// after it, folds as Python's unicodedata folds the same text (NFKC, then
// case folding): the table and its rule for the marks are complete.
void tst_Tags::everyCharacterFoldsAsUnicodeSays()
{
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    std::vector<std::string> texts;
    for (int lead = 0x20; lead < 0x100; ++lead) {
        if (lead == 0x7F || lead == 0x80 || lead == 0xA0 || lead > 0xFC)
            continue;
        if (!IsCp932LeadByte(static_cast<unsigned char>(lead))) {
            texts.push_back(std::string(1, static_cast<char>(lead)));
            continue;
        }
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            // One character (a second code's variation selector aside),
            // not a byte that is no character (U+F780 + byte).
            QList<uint> codes = QString::fromStdString(Utf8FromCp932(pair)).toUcs4();
            codes.removeIf([](uint code) { return code == 0xFE00 || code == 0xFE01; });
            if (codes.size() == 1 && (codes[0] < 0xF780 || codes[0] > 0xF7FF))
                texts.push_back(pair);
        }
    }
    const std::size_t characters = texts.size();
    for (std::size_t i = 0; i < characters; ++i)
        texts.push_back(texts[i] + "\xDE"); // ﾞ
    texts.push_back("\x81\x4E\xDE"); // ¨ﾞ: the mark goes before the diaeresis
    texts.push_back("\xB6\x81\x4E\xDF"); // ｶ¨ﾟ

    QByteArray input;
    for (const std::string& text : texts)
        input += QByteArray::fromStdString(Utf8FromCp932(text)).toBase64() + '\n';
    QProcess process;
    process.start(python,
                  {"-c",
                   "import sys, base64, unicodedata\n"
                   "for line in sys.stdin:\n"
                   "    text = base64.b64decode(line).decode().replace('\\ufe00', '').replace('\\ufe01', '')\n"
                   "    print(base64.b64encode(unicodedata.normalize('NFKC', text).casefold().encode())"
                   ".decode())\n"});
    QVERIFY(process.waitForStarted());
    process.write(input);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    const QList<QByteArray> folded = process.readAllStandardOutput().split('\n');
    QVERIFY(folded.size() > static_cast<qsizetype>(texts.size()));
    int differ = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string expected = QByteArray::fromBase64(folded[static_cast<qsizetype>(i)]).toStdString();
        if (FoldedText(texts[i]) != expected && ++differ <= 10)
            qWarning("%s folds to %s, not %s", Utf8FromCp932(texts[i]).c_str(), FoldedText(texts[i]).c_str(),
                     expected.c_str());
    }
    QCOMPARE(differ, 0);
}

void tst_Tags::hitsOfAFoldedSearchCoverTheirOriginalBytes()
{
    SearchCriteria criteria;
    criteria.keywords = {Cp932FromUtf8("ガイド"), Cp932FromUtf8("pc")};
    criteria.tags = {Cp932FromUtf8("旅行")};
    criteria.fold = true;
    const std::string text = Cp932FromUtf8("aｶﾞｲﾄﾞとＰＣ #旅行。");
    using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
    // ｶﾞｲﾄﾞ is five single bytes; ＰＣ four; #旅行 five.
    QCOMPARE(DayTest(criteria).HitRanges(text), (Ranges{{1, 6}, {8, 12}, {13, 18}}));
    criteria.fold = false;
    QCOMPARE(DayTest(criteria).HitRanges(text), (Ranges{{13, 18}}));
}

QTEST_APPLESS_MAIN(tst_Tags)
#include "tst_tags.moc"
