// SPDX-License-Identifier: GPL-3.0-or-later
// The border between record texts and controls, the program's font and the
// Qt prompts.
#include "Error.h"
#include "Fonts.h"
#include "QtPrompts.h"
#include "TextBorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
        QString left = QStringLiteral("€");
        QCOMPARE(kiv::StorablePart(QStringLiteral("😀晴😀€"), left), QStringLiteral("晴"));
        QCOMPARE(left, QStringLiteral("€😀"));
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

    // A question with a check box gives back the box as the user left it.
    void messageBoxCheckBoxIsGivenBack()
    {
        kiv::QtPrompts prompts;
        QString label;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box && box->checkBox());
            label = box->checkBox()->text();
            box->checkBox()->click();
            box->button(QMessageBox::No)->click();
        });
        bool checked = false;
        QCOMPARE(prompts.MessageWithCheck(kiv::Icon::Warning, "x", "y", kiv::Buttons::YesNo, "今後たずねない", checked),
                 kiv::Answer::No);
        QVERIFY(checked);
        QCOMPARE(label, QStringLiteral("今後たずねない"));
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
