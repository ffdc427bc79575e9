// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace kiv {

class FormHost;

// The schedule window: a grid of eleven hourly slots (8:00 .. 18:00) under
// fixed headings, and the schedule memo. It holds no data; the main window
// fills and reads cells (1, 1) .. (1, 11) and the memo. Any key pressed in
// the grid or in a cell's editor, and every change of the memo, sets the
// modified flag.
class TScheduleForm : public QWidget {
    Q_OBJECT
public:
    explicit TScheduleForm(FormHost& host, QWidget* parent = nullptr);

    // 2 columns x 12 rows; row 0 and column 0 are the fixed headings (cells
    // of the table itself; the table's own headers are hidden).
    QTableWidget* ScheduleStringGrid;
    QLabel* Label3;           // "メモ："
    QPlainTextEdit* ScheduleMemo;

    static constexpr int kColumns = 2;
    static constexpr int kRows = 12;
    static constexpr int kRowHeight = 20;
    static constexpr int kGridHeight = 233;
    static constexpr int kMemoTop = 259;
    static constexpr int kMemoHeight = 89;
    static constexpr int kGridFontPixels = 15;
    static constexpr int kHelpContext = 3;

    enum class Align { Center, Right };
    // Puts leading half-width spaces before the cell's text so that it
    // shows centred or right-aligned in its column, estimating a half-width
    // character as half the grid font's point size in pixels.
    void AlignCell(int column, int row, Align mode);

    // Read-only: the memo and the cells can be read and copied, no cell
    // opens an editor.
    void SetReadOnly(bool readOnly);

    // The text of a cell, (column, row) as in the grid; empty for none.
    QString Cell(int column, int row) const;
    void SetCell(int column, int row, const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class ScheduleCellDelegate;

    void FormCreate();
    void FormResize();
    void ScheduleMemoChange();
    // A key went down in the grid or in a cell's editor.
    void ScheduleStringGridKeyDown();
    // Tab in a cell editor: the cell is stored and the focus moves on from
    // the grid as Tab moves it from the grid itself (forward: the memo).
    void LeaveGrid(bool forward);

    FormHost& host_;
};

} // namespace kiv
