// SPDX-License-Identifier: GPL-3.0-or-later
#include "TPasswordDlg.h"

#include "Fonts.h"

#include "Archive.h"
#include "Cp932.h"
#include "Prompts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QValidator>

#include <algorithm>
#include <string.h>

namespace kiv {
namespace {

const char* const kOtherPasswordQuestion
    = "このパスワードでは、日記書庫にある暗号化された日記を開けません。\r\nこのパスワードで保存しますか？";
const char* const kMismatchMessage = "パスワードが一致しません。";
constexpr int kLabelWidth = 96;

// Refuses, with a beep, characters that code page 932 cannot hold and
// text beyond 80 bytes in it: the password reaches the libraries in that
// code page, and what they get must be what was typed.
class Cp932Validator : public QValidator {
public:
    Cp932Validator(Prompts& prompts, QObject* parent)
        : QValidator(parent)
        , prompts_(prompts)
    {
    }

    State validate(QString& input, int&) const override
    {
        const std::string text = input.toStdString();
        if (Cp932CanHold(text) && Cp932FromUtf8(text).size() <= archive::kMaxPasswordBytes)
            return Acceptable;
        prompts_.Beep();
        return Invalid;
    }

private:
    Prompts& prompts_;
};

// Shows every typed character as "*".
class StarStyle : public QProxyStyle {
public:
    int styleHint(
        StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TPasswordDlg::TPasswordDlg(Prompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , prompts_(prompts)
    , Label1(new QLabel(QStringLiteral("パスワードの入力 :"), this))
    , Password(new QLineEdit(this))
    , OKBtn(new QPushButton(QStringLiteral("OK"), this))
    , CancelBtn(new QPushButton(QStringLiteral("キャンセル"), this))
{
    setObjectName(QStringLiteral("PasswordDlg"));
    setWindowTitle(QStringLiteral("KIV"));
    setFont(FormFont());
    setFixedSize(233, 93);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 9, kLabelWidth, 12);
    SetLabel(Label1->text());
    Password->setObjectName(QStringLiteral("Password"));
    Password->setGeometry(8, 27, 217, 20);
    Password->setMaxLength(int(archive::kMaxPasswordBytes));
    Password->setEchoMode(QLineEdit::Password);
    auto* starStyle = new StarStyle;
    starStyle->setParent(Password);
    Password->setStyle(starStyle);
    Password->setValidator(new Cp932Validator(prompts_, Password));
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(70, 59, 75, 25);
    OKBtn->setDefault(true);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(150, 59, 75, 25);
    // While it has the focus, Enter presses it (as it does any focused
    // button); elsewhere Enter is OK.
    CancelBtn->setAutoDefault(true);

    setTabOrder(Password, OKBtn);
    setTabOrder(OKBtn, CancelBtn);

    connect(OKBtn, &QPushButton::clicked, this, &TPasswordDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TPasswordDlg::CancelBtnClick);
}

bool TPasswordDlg::AskPassword(std::string& password)
{
    if (!prompts_.RunModal(*this))
        return false;
    password = archive::LimitPassword(Cp932FromUtf8(Password->text().toStdString()));
    return true;
}

bool TPasswordDlg::AskPasswordAgain(std::string& password)
{
    ShowError(prompts_, "パスワードが違います。", true);
    return AskPassword(password);
}

bool TPasswordDlg::AskNewPassword(const std::string& book, std::string& password)
{
    for (;;) {
        if (!AskPassword(password))
            return false;
        const std::optional<bool> opens = archive::PasswordOpensBook(book, password);
        if (opens.value_or(false))
            return true;
        if (opens) {
            if (Ask(prompts_, kOtherPasswordQuestion, Buttons::YesNoDefaultNo, true) == Answer::Yes)
                return true;
            continue;
        }
        std::string again;
        if (!AskAgain(again))
            return false;
        if (again == password)
            return true;
        ShowError(prompts_, kMismatchMessage, true);
        Password->clear();
    }
}

void TPasswordDlg::Forget()
{
    // The field's text is shared with this copy until the field lets it go;
    // then the copy is its only holder and is wiped in place.
    QString text = Password->text();
    Password->clear();
    if (text.isEmpty() || !text.isDetached())
        return;
    explicit_bzero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
}

void TPasswordDlg::SetLabel(const QString& caption)
{
    Label1->setText(caption);
    Label1->resize(std::max(kLabelWidth, Label1->sizeHint().width()), Label1->height());
}

bool TPasswordDlg::AskAgain(std::string& password)
{
    const QString first = Password->text();
    SetLabel(QStringLiteral("確認のため、もう一度入力 :"));
    Password->clear();
    const bool ok = AskPassword(password);
    SetLabel(QStringLiteral("パスワードの入力 :"));
    if (!ok)
        Password->setText(first);
    return ok;
}

void TPasswordDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(shown->geometry().center());
        move(frame.topLeft());
    }
    Password->setFocus();
}

void TPasswordDlg::OKBtnClick()
{
    accept();
}

void TPasswordDlg::CancelBtnClick()
{
    reject();
}

} // namespace kiv
