// The border between record texts and controls, the editors' input guard,
// the program's font and the Qt prompts.
#include "Error.h"
#include "Fonts.h"
#include "QtPrompts.h"
#include "TextBorder.h"
#include "TestHost.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

void Type(QWidget* target, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}

void Paste(QWidget* target, const QString& clipboardText)
{
    QApplication::clipboard()->setText(clipboardText);
    QTest::keyClick(target, Qt::Key_V, Qt::ControlModifier);
}

void Drop(QPlainTextEdit& edit, const QMimeData& data)
{
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit.viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit.viewport(), &drop);
}

} // namespace

class TextBorderTest : public QObject {
    Q_OBJECT

private slots:
    void recordTextsConvertBothWays()
    {
        const std::string record = "\x93\xfa\x8b\x4c\r\n2\x8d\x73\x96\xda\r\n"; // 日記 / 2行目, CR LF
        const QString control = kiv::ControlText(record);
        QCOMPARE(control, QStringLiteral("日記\n2行目\n"));
        QCOMPARE(kiv::RecordText(control), record);
        QCOMPARE(kiv::RecordText(QStringLiteral("ｶﾅ")), std::string("\xb6\xc5"));
        QVERIFY(kiv::ControlText("").isEmpty());
        QVERIFY_THROWS_EXCEPTION(kiv::Error, kiv::RecordText(QStringLiteral("€")));
        QVERIFY(kiv::Storable(QStringLiteral("①髙")));
        QVERIFY(!kiv::Storable(QStringLiteral("a😀")));
    }

    void lineEditRefusesWhatCannotBeStored()
    {
        TestHost host;
        QLineEdit edit;
        kiv::GuardInput(&edit, host.prompts());
        Type(&edit, QStringLiteral("晴"));
        Type(&edit, QStringLiteral("😀"));
        QCOMPARE(edit.text(), QStringLiteral("晴"));
        QCOMPARE(host.beeps(), 1);
        Paste(&edit, QStringLiteral("のち€"));
        QCOMPARE(edit.text(), QStringLiteral("晴"));
        QCOMPARE(host.beeps(), 2);
        Paste(&edit, QStringLiteral("のち曇"));
        QCOMPARE(edit.text(), QStringLiteral("晴のち曇"));
        QCOMPARE(host.beeps(), 2);
    }

    void plainTextEditRefusesWhatCannotBeStored()
    {
        TestHost host;
        QPlainTextEdit edit;
        kiv::GuardInput(&edit, host.prompts());
        Type(&edit, QStringLiteral("朝"));
        Type(&edit, QStringLiteral("€"));
        QCOMPARE(edit.toPlainText(), QStringLiteral("朝"));
        QCOMPARE(host.beeps(), 1);

        Paste(&edit, QStringLiteral("x\n😀"));
        QCOMPARE(edit.toPlainText(), QStringLiteral("朝"));
        QCOMPARE(host.beeps(), 2);
        Paste(&edit, QStringLiteral("\n昼"));
        QCOMPARE(edit.toPlainText(), QStringLiteral("朝\n昼"));

        // An input method's result.
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("€"));
        QApplication::sendEvent(&edit, &commit);
        QCOMPARE(edit.toPlainText(), QStringLiteral("朝\n昼"));
        QCOMPARE(host.beeps(), 3);
        QInputMethodEvent good;
        good.setCommitString(QStringLiteral("夜"));
        QApplication::sendEvent(&edit, &good);
        QCOMPARE(edit.toPlainText(), QStringLiteral("朝\n昼夜"));

        // Dropped text, as a drag over the editor ends.
        edit.show();
        QMimeData data;
        data.setText(QStringLiteral("€"));
        Drop(edit, data);
        QCOMPARE(edit.toPlainText(), QStringLiteral("朝\n昼夜"));
        QCOMPARE(host.beeps(), 4);
        data.setText(QStringLiteral("晩"));
        Drop(edit, data);
        QVERIFY(edit.toPlainText().contains(QStringLiteral("晩")));
        QCOMPARE(host.beeps(), 4);

        // The program's own texts are not checked.
        edit.setPlainText(QStringLiteral("x"));
        QCOMPARE(host.beeps(), 4);
    }

    void formFontAsksForTheJapaneseFamilyAndFallsBack()
    {
        const QFont font = kiv::FormFont();
        QCOMPARE(font.pixelSize(), 12);
        QCOMPARE(font.families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
        QVERIFY(font.families().contains(QStringLiteral("IPAPGothic")));
        QCOMPARE(kiv::FormFont(15).pixelSize(), 15);
    }

    void fileFilterInQtsForm()
    {
        QCOMPARE(kiv::QtFileFilter("KIVの作ったファイル|*.KIV"), std::string("KIVの作ったファイル (*.KIV)"));
        QCOMPARE(kiv::QtFileFilter("画像|*.bmp;*.jpg;*.jpeg|全て|*.*"),
                 std::string("画像 (*.bmp *.jpg *.jpeg);;全て (*.*)"));
        QCOMPARE(kiv::QtFileFilter(""), std::string());
    }

    void messageBoxesShowExactlyTheButtonSet_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("escapeAnswer");
        QTest::newRow("ok") << int(kiv::Buttons::Ok) << 1 << int(kiv::Answer::Ok);
        QTest::newRow("yes no") << int(kiv::Buttons::YesNo) << 2 << int(kiv::Answer::No);
        QTest::newRow("yes no cancel") << int(kiv::Buttons::YesNoCancel) << 3 << int(kiv::Answer::Cancel);
    }

    void messageBoxesShowExactlyTheButtonSet()
    {
        QFETCH(int, buttons);
        QFETCH(int, count);
        QFETCH(int, escapeAnswer);
        kiv::QtPrompts prompts;
        QString seenText, seenCaption;
        int seenButtons = 0;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seenText = box->text();
            seenCaption = box->windowTitle();
            seenIcon = box->icon();
            seenButtons = static_cast<int>(box->buttons().size());
            QTest::keyClick(box, Qt::Key_Escape);
        });
        const kiv::Answer answer = prompts.Message(kiv::Icon::Warning, "警告", "一行目\r\n二行目", kiv::Buttons(buttons));
        QCOMPARE(int(answer), escapeAnswer);
        QCOMPARE(seenButtons, count);
        QCOMPARE(seenText, QStringLiteral("一行目\n二行目"));
        QCOMPARE(seenCaption, QStringLiteral("警告"));
        QCOMPARE(seenIcon, QMessageBox::Warning);
    }

    void messageBoxAnswersTheClickedButton()
    {
        kiv::QtPrompts prompts;
        QTimer::singleShot(0, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            box->button(QMessageBox::Yes)->click();
        });
        QCOMPARE(prompts.Message(kiv::Icon::Error, "x", "y", kiv::Buttons::YesNoCancel), kiv::Answer::Yes);
    }

    // The dialog lists each filter by its own text, which already names
    // its patterns; the patterns still filter.
    void fileDialogsShowEachFilterTextOnce()
    {
        kiv::QtPrompts prompts;
        QStringList shown, patterns;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(types);
            for (int i = 0; i < types->count(); ++i)
                shown << types->itemText(i);
            auto* files = dialog->findChild<QFileSystemModel*>();
            QVERIFY(files);
            patterns = files->nameFilters();
            dialog->reject();
        });
        kiv::FileDialog state { "日記ファイル ( *.KIV)|*.KIV|ＺＩＰファイル ( *.ZIP )|*.ZIP", "KIV", {} };
        QVERIFY(!prompts.OpenFile(state));
        QCOMPARE(shown, (QStringList { "日記ファイル ( *.KIV)", "ＺＩＰファイル ( *.ZIP )" }));
        QCOMPARE(patterns, QStringList { "*.KIV" });
    }
};

QTEST_MAIN(TextBorderTest)
#include "tst_textborder.moc"
