// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeLibraries.h"
#include "QtPrompts.h"
#include "ScriptedPrompts.h"
#include "TAboutForm.h"
#include "TOKBottomDlg.h"
#include "TPasswordDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace kiv;
using namespace kiv::archive::testing;

namespace {

template <typename T> T* Child(QWidget& parent, const char* name)
{
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qFatal("no child %s", name);
    return child;
}

int ModalCount(const ScriptedPrompts& prompts)
{
    return int(std::count_if(prompts.shown().begin(), prompts.shown().end(),
        [](const auto& shown) { return shown.kind == ScriptedPrompts::Kind::Modal; }));
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString MemoText(TOKBottomDlg& dialog)
{
    return Child<QPlainTextEdit>(dialog, "Memo1")->toPlainText();
}

} // namespace

class ArchiveDialogsTest : public QObject {
    Q_OBJECT

    Fixture f;

private slots:
    void init()
    {
        f = {};
        f.Install();
    }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void passwordDialogLayout()
    {
        TPasswordDlg dialog(f.prompts);
        QCOMPARE(dialog.windowTitle(), QString("KIV"));
        QCOMPARE(dialog.size(), QSize(233, 93));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(Child<QLabel>(dialog, "Label1")->text(), QString("パスワードの入力 :"));
        auto* password = Child<QLineEdit>(dialog, "Password");
        QCOMPARE(password->geometry(), QRect(8, 27, 217, 20));
        QCOMPARE(password->maxLength(), 80);
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        auto* ok = Child<QPushButton>(dialog, "OKBtn");
        QCOMPARE(ok->geometry(), QRect(70, 59, 75, 25));
        QVERIFY(ok->isDefault());
        QCOMPARE(Child<QPushButton>(dialog, "CancelBtn")->text(), QString("キャンセル"));
        QCOMPARE(dialog.font().pixelSize(), 12);
    }

    // The limit counts code page 932 bytes: 80 one-byte or 40 double-byte
    // characters; what does not fit is refused with a beep, never cut later.
    void passwordLongerThan80BytesCannotBeTyped()
    {
        TPasswordDlg dialog(f.prompts);
        auto* password = Child<QLineEdit>(dialog, "Password");
        QTest::keyClicks(password, QString(85, 'k'));
        QCOMPARE(password->text(), QString(80, 'k'));
        password->clear();
        for (int i = 0; i < 41; ++i)
            QTest::sendKeyEvent(QTest::Click, password, Qt::Key_unknown, QString(QChar(0x3042)), Qt::NoModifier);
        QCOMPARE(password->text(), QString(40, QChar(0x3042)));
        QCOMPARE(f.prompts.shown().back().kind, ScriptedPrompts::Kind::Beep);
    }

    void charactersOutsideCodePage932AreRefused()
    {
        TPasswordDlg dialog(f.prompts);
        auto* password = Child<QLineEdit>(dialog, "Password");
        for (QChar c : QString("aé日"))
            QTest::sendKeyEvent(QTest::Click, password, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QCOMPARE(password->text(), QString("a日"));
        QCOMPARE(f.prompts.shown().size(), std::size_t(1));
        QCOMPARE(f.prompts.shown()[0].kind, ScriptedPrompts::Kind::Beep);
    }

    void okHandsOverTheTextInCodePage932()
    {
        TPasswordDlg dialog(f.prompts);
        f.prompts.QueueModal(Answer::Ok, [](QDialog& d) { Child<QLineEdit>(d, "Password")->setText("日記pw"); });
        std::string password;
        QVERIFY(dialog.AskPassword(password));
        QCOMPARE(password, std::string("\x93\xfa\x8b\x4cpw"));

        // 41 double-byte characters: only 40 fit in 80 bytes.
        f.prompts.QueueModal(
            Answer::Ok, [](QDialog& d) { Child<QLineEdit>(d, "Password")->setText(QString(41, QChar(0x3042))); });
        QVERIFY(dialog.AskPassword(password));
        QCOMPARE(password.size(), std::size_t(80));
    }

    void cancelKeepsTheTextAndOkHandsItOverAgain()
    {
        TPasswordDlg dialog(f.prompts);
        f.prompts.QueueModal(Answer::Ok, [](QDialog& d) { Child<QLineEdit>(d, "Password")->setText("secret"); });
        std::string password;
        QVERIFY(dialog.AskPassword(password));
        f.prompts.QueueModal(Answer::Cancel);
        password = "unchanged";
        QVERIFY(!dialog.AskPassword(password));
        QCOMPARE(password, std::string("unchanged"));
        QCOMPARE(Child<QLineEdit>(dialog, "Password")->text(), QString("secret"));
        f.prompts.QueueModal(Answer::Ok);
        QVERIFY(dialog.AskPassword(password));
        QCOMPARE(password, std::string("secret"));
    }

    void escapeAndCloseBoxCancelEnterConfirms()
    {
        TPasswordDlg dialog(f.prompts);
        dialog.open();
        QTest::keyClick(Child<QLineEdit>(dialog, "Password"), Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());

        dialog.open();
        QTest::keyClick(Child<QLineEdit>(dialog, "Password"), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        dialog.open();
        dialog.close();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    // Enter presses the button that has the focus; from the field it is OK.
    void enterOnTheFocusedCancelButtonCancels()
    {
        TPasswordDlg dialog(f.prompts);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* cancel = Child<QPushButton>(dialog, "CancelBtn");
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());

        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* password = Child<QLineEdit>(dialog, "Password");
        password->setFocus();
        QTest::keyClick(password, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    // With the real libraries: the dialog appears once per encrypting add
    // run, and once when the book is first read.
    void passwordDialogServesBothLibraries()
    {
        QTemporaryDir temp;
        const std::string work = temp.path().toStdString();
        const std::string book = work + "/book.KIV";
        f.Install(work);
        archive::Host& host = archive::CurrentHost();
        host.zip = nullptr;
        host.unzip = nullptr;
        TPasswordDlg dialog(f.prompts);
        host.password = &dialog;
        f.checked = true;

        WriteFile(temp.filePath("20010315.DAY"), QByteArray(300, 'a'));
        WriteFile(temp.filePath("20010316.DAY"), QByteArray(20, 'b'));
        // A new book: the password is typed twice.
        f.prompts.QueueModal(Answer::Ok, [](QDialog& d) { Child<QLineEdit>(d, "Password")->setText("合言葉"); });
        f.prompts.QueueModal(Answer::Ok, [](QDialog& d) { Child<QLineEdit>(d, "Password")->setText("合言葉"); });
        QVERIFY(archive::AddDayFiles(book));
        QCOMPARE(ModalCount(f.prompts), 2);
        // A book with encrypted days: asked once, tried on them.
        f.prompts.QueueModal(Answer::Ok); // the field still holds the password
        QVERIFY(archive::AddDayFile(book, work + "/20010316.DAY"));
        QCOMPARE(ModalCount(f.prompts), 3);
        QFile::remove(temp.filePath("20010315.DAY"));
        QFile::remove(temp.filePath("20010316.DAY"));

        MemoryStream first, second;
        QVERIFY(archive::ExtractDay(book, "20010315.DAY", first));
        QVERIFY(archive::ExtractDay(book, "20010316.DAY", second));
        QCOMPARE(ModalCount(f.prompts), 3); // the password tried on the book is remembered
        QCOMPARE(first.Bytes(), std::vector<std::uint8_t>(300, 'a'));
        QCOMPARE(second.Bytes(), std::vector<std::uint8_t>(20, 'b'));
        QVERIFY(f.prompts.messages().empty());
        host.password = nullptr;
    }

    void outputDialogLayout()
    {
        TOKBottomDlg dialog;
        QCOMPARE(dialog.windowTitle(), QString("KIV"));
        QCOMPARE(dialog.size(), QSize(313, 214));
        auto* memo = Child<QPlainTextEdit>(dialog, "Memo1");
        QCOMPARE(memo->geometry(), QRect(8, 8, 297, 161));
        QVERIFY(memo->isReadOnly());
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(Child<QPushButton>(dialog, "OKBtn")->geometry(), QRect(119, 180, 75, 25));
    }

    void outputLinesAccumulateUntilTheDialogCloses()
    {
        TOKBottomDlg dialog;
        dialog.AppendLine("adding: 20010315.DAY");
        dialog.Show();
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.isModal());
        dialog.AppendLine("日記");
        QCOMPARE(MemoText(dialog), QString("adding: 20010315.DAY\n日記"));

        QTest::mouseClick(Child<QPushButton>(dialog, "OKBtn"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(MemoText(dialog), QString());

        dialog.AppendLine("again");
        dialog.Show();
        dialog.close(); // the close box
        QVERIFY(!dialog.isVisible());
        QCOMPARE(MemoText(dialog), QString());
    }

    void zipOutputReachesTheDialog()
    {
        TOKBottomDlg dialog;
        archive::CurrentHost().output = &dialog;
        archive::PrintCallback("  adding: 20010315.DAY\n", 0);
        QVERIFY(dialog.isVisible());
        QCOMPARE(MemoText(dialog), QString("adding: 20010315.DAY"));
        archive::CurrentHost().output = nullptr;
    }

    void versionWindow()
    {
        f.zip.version.library[0] = 2;
        f.zip.version.library[1] = 3;
        f.zip.version.library[2] = 1;
        f.unzip.version = 541;
        TAboutForm form;
        QCOMPARE(form.windowTitle(), QString("バージョン情報"));
        QCOMPARE(form.pos(), QPoint(333, 142));
        QCOMPARE(form.size(), QSize(200, 300));
        QCOMPARE(Child<QLabel>(form, "ZipVersionLabel")->text(), QString("ZipVersion : 2.3"));
        QCOMPARE(Child<QLabel>(form, "UnZipVersionLabel")->text(), QString("UnZipVersion : 5.41"));
        QCOMPARE(Child<QLabel>(form, "Label1")->text(), QString("ファイル名："));
        QCOMPARE(Child<QLabel>(form, "Label2")->text(), QString("KIV.EXE"));
        QCOMPARE(Child<QLabel>(form, "Label4")->text(), QString("1.13"));
        QCOMPARE(Child<QLabel>(form, "LicenseLabel")->text(), QString("GPL-3.0-or-later"));
        QCOMPARE(Child<QPushButton>(form, "OKButton")->geometry(), QRect(56, 184, 75, 25));
        form.open();
        QTest::mouseClick(Child<QPushButton>(form, "OKButton"), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
    }

    void versionTexts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("zip");
        QTest::addColumn<int>("unzip");
        QTest::addColumn<QString>("zipText");
        QTest::addColumn<QString>("unzipText");
        QTest::newRow("japanese") << "ja_JP" << 230 << 540 << "ZipVersion : 2.3"
                                  << "UnZipVersion : 5.40";
        QTest::newRow("rounded") << "ja_JP" << 236 << 605 << "ZipVersion : 2.4"
                                 << "UnZipVersion : 6.05";
        QTest::newRow("decimal comma") << "de_DE" << 231 << 541 << "ZipVersion : 2,3"
                                       << "UnZipVersion : 5,41";
        QTest::newRow("ten") << "en_US" << 1000 << 1000 << "ZipVersion : 10.0"
                             << "UnZipVersion : 10.00";
    }
    void versionTexts()
    {
        QFETCH(QString, locale);
        QFETCH(int, zip);
        QFETCH(int, unzip);
        QLocale::setDefault(QLocale(locale));
        QTEST(TAboutForm::ZipVersionText(zip), "zipText");
        QTEST(TAboutForm::UnZipVersionText(unzip), "unzipText");
    }

    void versionCommandShowsTheWindowModally()
    {
        QWidget owner;
        f.prompts.QueueModal(Answer::Ok, [&](QDialog& d) {
            QCOMPARE(d.objectName(), QString("AboutForm"));
            QCOMPARE(d.parentWidget(), &owner);
        });
        TAboutForm::Execute(f.prompts, &owner);
        QCOMPARE(f.prompts.shown().back().kind, ScriptedPrompts::Kind::Modal);
        QVERIFY(owner.findChildren<TAboutForm*>().isEmpty());
    }

    // The wait for a book another writer holds: the program goes on (its
    // timers run) under a wait cursor, then a box names the holder until
    // the book is free, or its キャンセル gives up.
    void theWaitForALockedBookKeepsTheProgramGoing()
    {
        QtPrompts prompts;
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        QElapsedTimer waited;
        waited.start();
        QVERIFY(prompts.WaitWhile("待っています", [&] { return waited.elapsed() < 300; }));
        QVERIFY(ticks > 5);
        QVERIFY(!QApplication::overrideCursor());

        // Longer: the box shows, and goes by itself when the book is free.
        QString shownText;
        QTimer::singleShot(1500, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                shownText = box->text();
        });
        waited.restart();
        QVERIFY(prompts.WaitWhile("日記はプロセス 1 (kivbook) が書き込み中です。", [&] { return waited.elapsed() < 2500; }));
        QCOMPARE(shownText, QStringLiteral("日記はプロセス 1 (kivbook) が書き込み中です。"));

        // Cancelled: given up though the book is still held.
        QTimer::singleShot(1500, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Cancel)->click();
        });
        QVERIFY(!prompts.WaitWhile("待っています", [] { return true; }));
    }
};

QTEST_MAIN(ArchiveDialogsTest)
#include "tst_ArchiveDialogs.moc"
