// SPDX-License-Identifier: GPL-3.0-or-later
#include "TOKBottomDlg.h"

#include "Fonts.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>

namespace kiv {

TOKBottomDlg::TOKBottomDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , OKBtn(new QPushButton(QStringLiteral("OK"), this))
    , Memo1(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("OKBottomDlg"));
    setWindowTitle(QStringLiteral("KIV"));
    setFont(FormFont());
    setFixedSize(313, 214);
    setModal(false);

    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(119, 180, 75, 25);
    OKBtn->setDefault(true);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 8, 297, 161);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    setTabOrder(OKBtn, Memo1);
    connect(OKBtn, &QPushButton::clicked, this, &TOKBottomDlg::OKBtnClick);
}

// New lines show from their start, as the list is read from the left.
void TOKBottomDlg::AppendLine(const std::string& line)
{
    Memo1->appendPlainText(QString::fromStdString(line));
    QTextCursor cursor = Memo1->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    Memo1->setTextCursor(cursor);
    Memo1->horizontalScrollBar()->setValue(0);
}

// The library holds the only thread while it works, so the memo paints
// itself now instead of waiting for the event loop.
void TOKBottomDlg::Repaint()
{
    Memo1->repaint();
}

bool TOKBottomDlg::IsActive()
{
    return isActiveWindow();
}

void TOKBottomDlg::Show()
{
    show();
    raise();
}

void TOKBottomDlg::done(int result)
{
    Memo1->clear();
    QDialog::done(result);
}

void TOKBottomDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(shown->geometry().center());
        move(frame.topLeft());
    }
    OKBtn->setFocus();
}

// The dialog has no cancel button: Esc does not close it.
void TOKBottomDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TOKBottomDlg::OKBtnClick()
{
    close();
}

} // namespace kiv
