// SPDX-License-Identifier: GPL-3.0-or-later
// A day keeps the protection the book gave it, and a day that could not be
// read is never saved over the book's copy unasked.
#include "AppFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QStatusBar>
#include <QTableWidget>

using namespace kiv;
using namespace kiv::testing;

namespace {

const QDate kMay12(2001, 5, 12);
const QDate kMay13(2001, 5, 13);
const char* const kUnencryptedQuestion = "この日記は暗号化されていました。暗号化せずに保存しますか？";
const char* const kOverUnreadableQuestion = "この日の日記は読めなかったので、書庫にある日記の代わりに空の日記が表示されています。\r\n"
                                            "保存すると、書庫にある日記は失われます。保存しますか？";
// The AES extra field of a member as libzip writes it (AE-2).
const QByteArray kAesField("\x01\x99\x07\x00\x02\x00" "AE", 8);

std::function<void(QDialog&)> TypePassword(const char* password)
{
    return [password](QDialog& dialog) { dialog.findChild<QLineEdit*>()->setText(password); };
}

// A book of one day, May 12, encrypted with the method, as the program
// saves it.
void MakeEncryptedBook(App& app, const std::string& book, bool aes)
{
    (aes ? app.main().Aes256Encryption1 : app.main().TraditionalEncryption1)->trigger();
    app.calendar().PassWordCheckBox->setChecked(true);
    app.Click(kMay12);
    app.TypeDiary("元の日記");
    app.prompts.QueueFile(book);
    app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
    app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
    app.main().SaveAs1->trigger();
    QVERIFY(app.Messages().isEmpty());
    QCOMPARE(ReadFile(book).contains(kAesField), aes);
}

// The program started again on the same folders, on May 12, about to open
// a copy of the book (whose password the library has not seen).
std::string Restart(App& app, const std::string& book)
{
    const std::string copy = book + ".copy.KIV";
    QFile::copy(QString::fromStdString(book), QString::fromStdString(copy));
    app.program.reset();
    app.prompts.clear();
    app.Create();
    app.Start();
    app.calendar().SetSelectedDate(kMay12);
    app.ws().SetDate(kMay12);
    app.prompts.QueueFile(copy);
    return copy;
}

// The standing line of the status bar about the shown day.
QString DayNote(const App& app)
{
    return app.main().StatusBar1->findChild<QLabel*>(QStringLiteral("DayNote"))->text();
}

} // namespace

class ProtectionTest : public QObject {
    Q_OBJECT

private slots:
    void anEncryptedDayStaysEncryptedUnlessTheUserSaysSo_data()
    {
        QTest::addColumn<bool>("aes");
        QTest::addColumn<bool>("unencrypted");
        QTest::newRow("traditional, いいえ (the default)") << false << false;
        QTest::newRow("AES-256, いいえ (the default)") << true << false;
        QTest::newRow("traditional, はい") << false << true;
        QTest::newRow("AES-256, はい") << true << true;
    }

    void anEncryptedDayStaysEncryptedUnlessTheUserSaysSo()
    {
        QFETCH(bool, aes);
        QFETCH(bool, unencrypted);
        App app;
        MakeEncryptedBook(app, app.Path("secret.KIV"), aes);

        // After a restart the box starts unticked; the book of encrypted
        // days ticks it. The setting says the other method.
        const std::string book = Restart(app, app.Path("secret.KIV"));
        (aes ? app.main().TraditionalEncryption1 : app.main().Aes256Encryption1)->trigger();
        QVERIFY(!app.calendar().PassWordCheckBox->isChecked());
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.main().Open1->trigger();
        QVERIFY(app.calendar().PassWordCheckBox->isChecked());
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("元の日記"));

        // The user unticks it, edits the day and saves: asked first.
        app.calendar().PassWordCheckBox->setChecked(false);
        app.diary().DayBookMemo->moveCursor(QTextCursor::End);
        app.TypeDiary("、書き足した");
        app.prompts.clear();
        app.prompts.Queue(unencrypted ? Answer::Yes : Answer::No);
        if (!unencrypted)
            app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.main().Save1->trigger();
        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, std::string(kUnencryptedQuestion));
        QCOMPARE(shown[0].buttons, Buttons::YesNoDefaultNo);
        QCOMPARE(app.prompts.pendingReplies(), std::size_t(0));

        const auto method = aes ? archive::EncryptionMethod::Aes256 : archive::EncryptionMethod::Traditional;
        QCOMPARE(archive::DayEncryption(book, app.DayFile(kMay12)),
            unencrypted ? std::nullopt : std::optional(method));
        QCOMPARE(app.MemberDiary(book, kMay12), QStringLiteral("元の日記、書き足した"));
    }

    // A book that also holds a day in the clear leaves the box as it was.
    void aBookWithAPlainDayLeavesThePasswordBoxAlone()
    {
        App app;
        MakeEncryptedBook(app, app.Path("mixed.KIV"), false);
        app.calendar().PassWordCheckBox->setChecked(false);
        app.MakeBook(app.Path("mixed.KIV"), { { kMay13, "平文の日" } });
        Restart(app, app.Path("mixed.KIV"));
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.main().Open1->trigger();
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("元の日記"));
        QVERIFY(!app.calendar().PassWordCheckBox->isChecked());
    }

    // Saved without an edit, an encrypted day stays encrypted without a question.
    void anUneditedEncryptedDayIsSavedEncryptedUnasked()
    {
        App app;
        MakeEncryptedBook(app, app.Path("secret.KIV"), false);
        const std::string book = Restart(app, app.Path("secret.KIV"));
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.main().Open1->trigger();
        app.calendar().PassWordCheckBox->setChecked(false);
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.main().Save1->trigger();
        QVERIFY(app.Messages().isEmpty());
        QCOMPARE(app.prompts.pendingReplies(), std::size_t(0));
        QCOMPARE(archive::DayEncryption(book, app.DayFile(kMay12)), archive::EncryptionMethod::Traditional);
    }

    // After a cancelled password or a damaged day the editors are
    // read-only and say why; nothing the user does replaces the book's copy
    // unasked, and choosing the date again tries again.
    void aDayThatCouldNotBeReadIsNotEditedBlind_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("password cancelled") << false;
        QTest::newRow("damaged data") << true;
    }

    void aDayThatCouldNotBeReadIsNotEditedBlind()
    {
        QFETCH(bool, damaged);
        App app;
        const std::string made = app.Path("diary.KIV");
        if (damaged) {
            app.MakeBook(made, { { kMay12, "元の日記。壊れる前はこう書いてあった" } });
            QByteArray bytes = ReadFile(made);
            const qsizetype data = bytes.indexOf("20010512.DAY") + 12 + 4;
            bytes[data] = char(bytes[data] ^ 0x55);
            bytes[data + 1] = char(bytes[data + 1] ^ 0x55);
            WriteFile(made, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        } else {
            MakeEncryptedBook(app, made, false);
        }
        const std::string book = Restart(app, made);
        if (!damaged)
            app.prompts.QueueModal(Answer::Cancel);
        const QByteArray before = ReadFile(book);
        app.main().Open1->trigger();
        QVERIFY(!app.Messages().isEmpty());
        QVERIFY(app.diary().DayBookMemo->toPlainText().isEmpty());
        for (QWidget* editor : std::initializer_list<QWidget*> { app.diary().DayBookMemo, app.diary().WeatherEdit,
                 app.diary().TemperatureEdit, app.schedule().ScheduleMemo })
            QVERIFY(editor->property("readOnly").toBool());
        QCOMPARE(app.schedule().ScheduleStringGrid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(DayNote(app),
            damaged ? QStringLiteral("読めなかった日は書き込めません。書庫を修復して日付を選び直してください。")
                    : QStringLiteral("開けなかった日は書き込めません。日付を選び直すとパスワードを聞きます。"));

        // Typing goes nowhere; leaving with はい saves nothing over the book.
        app.TypeDiary("新しい文");
        QTest::keyClicks(app.diary().DayBookMemo, "abc");
        QVERIFY(app.diary().DayBookMemo->toPlainText().isEmpty());
        app.prompts.clear();
        app.prompts.Queue(Answer::Yes);
        app.Click(kMay13);
        app.prompts.clear();
        app.main().Save1->trigger();
        QCOMPARE(ReadFile(book), before);
        QVERIFY(!app.diary().DayBookMemo->isReadOnly());

        // A day with a picture put on it asks, naming the risk; いいえ (the
        // default) keeps the book's copy.
        app.prompts.clear();
        if (!damaged)
            app.prompts.QueueModal(Answer::Cancel);
        app.Click(kMay12);
        QVERIFY(app.diary().DayBookMemo->isReadOnly());
        const QString picture = app.root.path() + "/p.bmp";
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture));
        app.prompts.clear();
        app.prompts.QueueFile(picture.toStdString());
        app.main().PictureInsert->trigger();
        app.main().Save1->trigger();
        QCOMPARE(app.Messages(), QStringList { kOverUnreadableQuestion });
        QCOMPARE(app.prompts.messages()[0].buttons, Buttons::YesNoDefaultNo);
        QCOMPARE(ReadFile(book), before);

        if (damaged)
            return;
        // Choosing the date again asks for the password again.
        app.picture().ClearPicture();
        app.prompts.clear();
        app.prompts.QueueModal(Answer::Ok, TypePassword("pw"));
        app.Click(kMay12);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("元の日記"));
        QVERIFY(!app.diary().DayBookMemo->isReadOnly());
        QVERIFY(DayNote(app).isEmpty());
    }
};

QTEST_MAIN(ProtectionTest)
#include "tst_Protection.moc"
