// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace kiv;
using namespace kiv::testing;

namespace {

const QDate kMay3(2020, 5, 3);
const QDate kMay4(2020, 5, 4);

} // namespace

// ファイル → 書き出し… and 取り込み… on the whole program.
class TransferCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void withoutABookBothSaySo()
    {
        App app;
        QVERIFY(app.Start());
        app.main().Export1->trigger();
        app.main().Import1->trigger();
        const QString text = "日記が開かれていません。\r\n日記を開いてから、もう一度選んでください。";
        QCOMPARE(app.Messages(), QStringList({ text, text }));
    }

    void exportWritesTheBookAsOneFile()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay3, "三日" }, { kMay4, "四日" } });
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        const std::string target = app.Path("diary.json");
        app.prompts.QueueFile(target);
        app.main().Export1->trigger();
        QCOMPARE(app.Messages(), QStringList { QString::fromStdString("2 日を " + target + " に書き出しました。") });
        const QJsonArray days = QJsonDocument::fromJson(ReadFile(target)).object()["days"].toArray();
        QCOMPARE(days.size(), 2);
        QCOMPARE(days[1].toObject()["diary"].toString(), QStringLiteral("四日"));

        // Another kind of file is refused before anything is written.
        app.prompts.QueueFile(app.Path("diary.docx"));
        app.main().Export1->trigger();
        QCOMPARE(app.Messages().last(), QStringLiteral("書き出せるのは、名前が .json、.ics、.pdf で終わるファイルです。"));
    }

    void importAsksThenMergesIntoTheBook()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay3, "前からの日記" } });
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        app.prompts.QueueFile(KIV_IMPORT_SAMPLES "/jrnl.json");
        app.prompts.Queue(Answer::Yes);
        app.main().Import1->trigger();
        const QString summary = "追加 1 日、追記 1 日、変更なし 0 日、飛ばした項目 0\r\n保存できない文字を除きました: 😀";
        QCOMPARE(app.Messages(),
            QStringList({ QString(KIV_IMPORT_SAMPLES "/jrnl.json から取り込みます。\r\n\r\n") + summary
                    + "\r\n\r\nよろしいですか？",
                "取り込みました。\r\n\r\n" + summary }));
        QCOMPARE(app.MemberDiary(book, kMay3),
            QStringLiteral("前からの日記\r\n\r\n09:15 Met the team.\r\nLong talk about @work plans.\r\n\r\n19:30 Evening "
                           "walk.\r\nCool air by the river, 夕焼け."));
        QCOMPARE(app.MemberDiary(book, kMay4), QStringLiteral("08:00 Rain all day"));
        QCOMPARE(app.calendar().DiaryComboBox->count(), 2);

        // Again: nothing to take, and no question.
        app.prompts.QueueFile(KIV_IMPORT_SAMPLES "/jrnl.json");
        app.main().Import1->trigger();
        QVERIFY(app.Messages().last().startsWith("取り込む日はありませんでした。\r\n\r\n追加 0 日、追記 0 日、変更なし 2 日"));
    }

    void malformedInputIsNamed()
    {
        App app;
        const std::string book = app.Path("diary.KIV");
        app.MakeBook(book, { { kMay3, "三日" } });
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        WriteFile(app.Path("bad.ics"), std::vector<std::uint8_t> { 'x', '\n' });
        app.prompts.QueueFile(app.Path("bad.ics"));
        const QByteArray before = ReadFile(book);
        app.main().Import1->trigger();
        QCOMPARE(app.Messages().last(),
            QStringLiteral("取り込めませんでした。\r\n\r\nbad.ics、1 行目: 内容行（NAME:VALUE）ではありません"));
        QCOMPARE(ReadFile(book), before);
    }
};

QTEST_MAIN(TransferCommandsTest)
#include "tst_TransferCommands.moc"
