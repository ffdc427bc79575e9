// SPDX-License-Identifier: GPL-3.0-or-later
#include "TDiaryForm.h"

#include "ErrorGuard.h"
#include "Fonts.h"
#include "FormHost.h"
#include "TextBorder.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QResizeEvent>

#include <algorithm>

namespace kiv {

namespace {

constexpr int kClientWidth = 536;
constexpr int kClientHeight = 348;
constexpr int kMemoTop = 80;

// Labels take their place and at least their size, growing to their text
// as auto-sized labels do.
QLabel* MakeLabel(const QString& text, int left, int top, int width, int height, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    const QSize hint = label->sizeHint();
    label->setGeometry(left, top, std::max(width, hint.width()), std::max(height, hint.height()));
    return label;
}

} // namespace

TDiaryForm::TDiaryForm(FormHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName(QStringLiteral("DiaryForm"));
    setWindowTitle(QStringLiteral("日記"));
    setFont(FormFont());

    Label1 = MakeLabel(QStringLiteral("天気："), 8, 8, 30, 12, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = MakeLabel(QStringLiteral("温度："), 152, 8, 30, 12, this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = MakeLabel(QStringLiteral("日記："), 8, 64, 30, 12, this);
    Label3->setObjectName(QStringLiteral("Label3"));

    WeatherEdit = new QLineEdit(this);
    WeatherEdit->setObjectName(QStringLiteral("WeatherEdit"));
    WeatherEdit->setGeometry(8, 24, 121, 20);
    WeatherEdit->setStatusTip(QStringLiteral("天気を記入"));

    TemperatureEdit = new QLineEdit(this);
    TemperatureEdit->setObjectName(QStringLiteral("TemperatureEdit"));
    TemperatureEdit->setGeometry(152, 24, 121, 20);
    TemperatureEdit->setStatusTip(QStringLiteral("温度を記入"));

    DayBookMemo = new QPlainTextEdit(this);
    DayBookMemo->setObjectName(QStringLiteral("DayBookMemo"));
    DayBookMemo->setGeometry(0, kMemoTop, kClientWidth, kClientHeight - kMemoTop);
    DayBookMemo->setStatusTip(QStringLiteral("ここをクリックしてアクティブにして日記を記入"));
    DayBookMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    DayBookMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DayBookMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the next control instead of going into the text.
    DayBookMemo->setTabChangesFocus(true);

    FilterInput(WeatherEdit, host_);
    FilterInput(TemperatureEdit, host_);
    FilterInput(DayBookMemo, host_);

    // Tab order: the memo, the weather, the temperature.
    setTabOrder(DayBookMemo, WeatherEdit);
    setTabOrder(WeatherEdit, TemperatureEdit);
    DayBookMemo->setFocus();

    connect(WeatherEdit, &QLineEdit::textChanged, this,
            [this] { Guarded(host_.prompts(), [this] { WeatherEditChange(); }); });
    connect(TemperatureEdit, &QLineEdit::textChanged, this,
            [this] { Guarded(host_.prompts(), [this] { TemperatureEditChange(); }); });
    connect(DayBookMemo, &QPlainTextEdit::textChanged, this,
            [this] { Guarded(host_.prompts(), [this] { DayBookMemoChange(); }); });

    resize(kClientWidth, kClientHeight);
    Guarded(host_.prompts(), [this] { FormCreate(); });
}

void TDiaryForm::FormCreate()
{
    setWindowTitle(QStringLiteral("今日の日記"));
    DayBookMemo->clear();
    WeatherEdit->clear();
    TemperatureEdit->clear();
}

void TDiaryForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Guarded(host_.prompts(), [this] { FormResize(); });
}

void TDiaryForm::FormResize()
{
    // The memo fills the client area below the band of labels and edits; a
    // client area lower than the band hides it.
    DayBookMemo->setGeometry(0, kMemoTop, width(), std::max(0, height() - kMemoTop));
}

void TDiaryForm::SetReadOnly(bool readOnly)
{
    WeatherEdit->setReadOnly(readOnly);
    TemperatureEdit->setReadOnly(readOnly);
    DayBookMemo->setReadOnly(readOnly);
}

void TDiaryForm::WeatherEditChange() { host_.SetModified(true); }

void TDiaryForm::TemperatureEditChange() { host_.SetModified(true); }

void TDiaryForm::DayBookMemoChange() { host_.SetModified(true); }

} // namespace kiv
