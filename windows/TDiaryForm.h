// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace kiv {

class FormHost;

// The diary window: weather, temperature and the diary text of the shown
// day. It holds no data; the main window fills and reads the controls.
// Every change of the three texts, the program's own included, sets the
// modified flag.
class TDiaryForm : public QWidget {
    Q_OBJECT
public:
    explicit TDiaryForm(FormHost& host, QWidget* parent = nullptr);

    QLabel* Label1;           // "天気："
    QLabel* Label2;           // "温度："
    QLabel* Label3;           // "日記："
    QLineEdit* WeatherEdit;
    QLineEdit* TemperatureEdit;
    QPlainTextEdit* DayBookMemo;

    static constexpr int kHelpContext = 5;

    // Read-only: the texts can be read and copied, not changed.
    void SetReadOnly(bool readOnly);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void WeatherEditChange();
    void TemperatureEditChange();
    void DayBookMemoChange();

    FormHost& host_;
};

} // namespace kiv
