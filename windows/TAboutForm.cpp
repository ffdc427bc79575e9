// SPDX-License-Identifier: GPL-3.0-or-later
#include "TAboutForm.h"

#include "Fonts.h"
#include "OuterSize.h"

#include "Archive.h"
#include "Prompts.h"

#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <algorithm>

namespace kiv {
namespace {

constexpr QSize kOuterSize(200, 300);
constexpr QPoint kPosition(333, 142);

// value / 100 with the given number of decimals (rounded), as the patterns
// "0.0" and "0.00" write it: no grouping, the user's decimal separator.
QString Hundredths(int value, int decimals)
{
    const int unit = decimals == 1 ? 10 : 1;
    const int scale = decimals == 1 ? 10 : 100;
    const int rounded = (value + unit / 2) / unit;
    return QString::number(rounded / scale) + QLocale().decimalPoint()
        + QStringLiteral("%1").arg(rounded % scale, decimals, 10, QLatin1Char('0'));
}

// Labels size themselves to their text, as wide as the layout says at
// least: the fallback font's Latin letters are wider than the first choice's.
void AutoWidth(QLabel* label)
{
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top, int width)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(left, top, width, 12);
    return label;
}

} // namespace

TAboutForm::TAboutForm(QWidget* owner)
    : QDialog(owner)
    , Label1(MakeLabel(this, "Label1", QStringLiteral("ファイル名："), 8, 8, 59))
    , Label2(MakeLabel(this, "Label2", QStringLiteral("KIV.EXE"), 40, 24, 47))
    , Label3(MakeLabel(this, "Label3", QStringLiteral("Version:"), 8, 48, 41))
    , Label4(MakeLabel(this, "Label4", QStringLiteral("1.13"), 40, 64, 20))
    , ZipVersionLabel(MakeLabel(this, "ZipVersionLabel", QString(), 32, 128, 82))
    , UnZipVersionLabel(MakeLabel(this, "UnZipVersionLabel", QString(), 32, 152, 96))
    // The program is free software; the box names its licence between the
    // version and the archive libraries.
    , LicenseLabel(MakeLabel(this, "LicenseLabel", QStringLiteral("GPL-3.0-or-later"), 8, 96, 120))
    , OKButton(new QPushButton(QStringLiteral("OK"), this))
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setFont(FormFont());
    resize(kOuterSize);
    move(kPosition);
    KeepOuterSize(this, kOuterSize);

    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(56, 184, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutForm::OKButtonClick);

    FormCreate();
}

void TAboutForm::Execute(Prompts& prompts, QWidget* owner)
{
    TAboutForm form(owner);
    prompts.RunModal(form);
}

QString TAboutForm::ZipVersionText(int version)
{
    return QStringLiteral("ZipVersion : ") + Hundredths(version, 1);
}

QString TAboutForm::UnZipVersionText(int version)
{
    return QStringLiteral("UnZipVersion : ") + Hundredths(version, 2);
}

void TAboutForm::FormCreate()
{
    ZipVersionLabel->setText(ZipVersionText(archive::GetZipVersion()));
    UnZipVersionLabel->setText(UnZipVersionText(archive::CurrentUnZip().GetVersion()));
    for (QLabel* label : { Label1, Label2, Label3, Label4, ZipVersionLabel, UnZipVersionLabel, LicenseLabel })
        AutoWidth(label);
}

void TAboutForm::OKButtonClick()
{
    accept();
}

} // namespace kiv
