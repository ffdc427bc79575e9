// SPDX-License-Identifier: GPL-3.0-or-later
#include "TScheduleForm.h"

#include "ErrorGuard.h"
#include "Fonts.h"
#include "FormHost.h"
#include "TextBorder.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>

#include <algorithm>

namespace kiv {

namespace {

constexpr int kClientWidth = 536;
constexpr int kClientHeight = 348;
constexpr int kLabelLeft = 8;
constexpr int kLabelTop = 240;
constexpr int kHeadingColumnWidth = 64;
constexpr int kEntryColumnWidth = 512;
// How a cell's editor opens while the day can be edited.
constexpr QAbstractItemView::EditTriggers kEditTriggers = QAbstractItemView::DoubleClicked
    | QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed;

bool IsTab(const QKeyEvent* key)
{
    return (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
        && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

bool IsForwardTab(const QKeyEvent* key)
{
    return key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
}

// Point size of a font given in pixels, as whole points at the device's
// resolution (rounded, so 15 pixels at 96 dpi are 11 points).
int WholePoints(int pixels, int dpi)
{
    if (dpi <= 0)
        dpi = 96;
    return (pixels * 72 * 2 + dpi) / (dpi * 2);
}

// Cell texts are drawn as a text grid draws them: from 2 pixels right of
// and below the cell's corner, cut at the cell's edge, never shortened with
// an ellipsis, so that the headings' leading spaces place them.
class GridCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QWidget* view = option.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, view);

        painter->save();
        painter->setClipRect(cell.rect);
        painter->setFont(cell.font);
        const QPalette::ColorGroup group = (cell.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        painter->setPen(cell.palette.color(group, (cell.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                         : QPalette::Text));
        QRect area = cell.rect.adjusted(kTextInset, kTextInset, 0, 0);
        // Only the left edge moves: the text is cut where its area ends, so
        // the area keeps ending at the cell's edge.
        if (!(index.flags() & Qt::ItemIsEditable))
            area.setLeft(area.left() - HeadingOverflow(painter->fontMetrics(), text, cell.rect.width()));
        painter->drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        painter->restore();
    }

private:
    static constexpr int kTextInset = 2;

    // A heading's leading spaces place it for the first choice of font; in
    // a font with wider figures it would run past its cell. It then gives
    // up as much of its leading spaces as it needs to end inside the cell.
    static int HeadingOverflow(const QFontMetrics& metrics, const QString& text, int cellWidth)
    {
        const int overflow = metrics.horizontalAdvance(text) - (cellWidth - 2 * kTextInset);
        if (overflow <= 0)
            return 0;
        qsizetype spaces = 0;
        while (spaces < text.size() && text.at(spaces) == QLatin1Char(' '))
            ++spaces;
        return std::min(overflow, metrics.horizontalAdvance(text.left(spaces)));
    }
};

// The grid: rows scroll a whole row at a time under the fixed heading row,
// which stays in place (a strip over the top of the cells showing row 0 of
// the same cells). Scrolled to the end, the last row is the last whole row
// and the space below it stays empty. The columns never scroll: a text
// wider than its cell is cut at the grid's edge, as the fixed column leaves
// no room to scroll the one other column.
class ScheduleGrid : public QTableWidget {
public:
    ScheduleGrid(int rows, int columns, QWidget* parent) : QTableWidget(rows, columns, parent)
    {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        // Pixel offsets, kept on whole rows: the item mode would align the
        // last row with the bottom edge and show part of a row at the top.
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
            if (value != 0)
                horizontalScrollBar()->setValue(0);
        });
        connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
            const int step = RowStep();
            if (!adjusting_ && value % step != 0)
                verticalScrollBar()->setValue((value + step / 2) / step * step);
        });

        headings_ = new QTableView(this);
        headings_->setObjectName(QStringLiteral("qt_schedule_headings"));
        headings_->setModel(model());
        headings_->horizontalHeader()->hide();
        headings_->verticalHeader()->hide();
        headings_->horizontalHeader()->setMinimumSectionSize(1);
        headings_->verticalHeader()->setMinimumSectionSize(1);
        headings_->setFocusPolicy(Qt::NoFocus);
        headings_->setSelectionMode(QAbstractItemView::NoSelection);
        headings_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        headings_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        headings_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        headings_->setFrameShape(QFrame::NoFrame);
        headings_->setWordWrap(false);
        headings_->setItemDelegate(new GridCellDelegate(headings_));
        connect(horizontalHeader(), &QHeaderView::sectionResized, this,
                [this](int column, int, int size) { headings_->setColumnWidth(column, size); });
        connect(verticalHeader(), &QHeaderView::sectionResized, this, [this](int row, int, int size) {
            if (row == 0) {
                headings_->setRowHeight(0, size);
                PlaceHeadings();
            }
        });
    }

    // Shows only the heading row in the strip; called once the rows exist.
    void FixHeadingRow()
    {
        for (int row = 1; row < rowCount(); ++row)
            headings_->setRowHidden(row, true);
        for (int column = 0; column < columnCount(); ++column)
            headings_->setColumnWidth(column, columnWidth(column));
        headings_->setRowHeight(0, rowHeight(0));
        updateGeometries();
    }

    // The first row shown below the headings.
    int TopRow() const { return 1 + verticalScrollBar()->value() / RowStep(); }

    void SetTopRow(int row)
    {
        verticalScrollBar()->setValue((std::clamp(row, 1, MaxTopRow()) - 1) * RowStep());
    }

    void scrollTo(const QModelIndex& index, ScrollHint) override
    {
        if (!index.isValid() || index.row() < 1)
            return;
        const int row = index.row();
        if (row < TopRow()) {
            SetTopRow(row);
            return;
        }
        // Rows TopRow() .. row must fit below the headings; else scroll just
        // far enough that the row is the last whole one.
        const int room = Room();
        int used = 0;
        for (int shown = TopRow(); shown <= row; ++shown)
            used += rowHeight(shown);
        if (used <= room)
            return;
        int top = row;
        used = rowHeight(row);
        while (top > 1 && used + rowHeight(top - 1) <= room) {
            --top;
            used += rowHeight(top);
        }
        SetTopRow(top);
    }

protected:
    void updateGeometries() override
    {
        const int value = verticalScrollBar()->value();
        adjusting_ = true;
        QTableWidget::updateGeometries();
        const int step = RowStep();
        verticalScrollBar()->setRange(0, (MaxTopRow() - 1) * step);
        verticalScrollBar()->setSingleStep(step);
        verticalScrollBar()->setPageStep(std::max(step, Room() / step * step));
        verticalScrollBar()->setValue(value);
        adjusting_ = false;
        PlaceHeadings();
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QTableWidget::resizeEvent(event);
        PlaceHeadings();
    }

private:
    int RowStep() const { return rowCount() > 1 ? std::max(1, rowHeight(1)) : 1; }

    // Height below the headings.
    int Room() const { return viewport()->height() - rowHeight(0); }

    // The first row shown when scrolled to the end: the last row is then
    // the last whole one.
    int MaxTopRow() const
    {
        int top = rowCount() - 1;
        int used = top >= 1 ? rowHeight(top) : 0;
        while (top > 1 && used + rowHeight(top - 1) <= Room()) {
            --top;
            used += rowHeight(top);
        }
        return std::max(1, top);
    }

    void PlaceHeadings()
    {
        if (!headings_)
            return;
        const QRect area = viewport()->geometry();
        headings_->setGeometry(area.left(), area.top(), area.width(), std::min(rowHeight(0), area.height()));
        headings_->raise();
    }

    QTableView* headings_ = nullptr;
    bool adjusting_ = false;
};

} // namespace

// In-place editing of column 1: the editors leave out what cannot be stored,
// count every key and every edit as an edit of the day and leave the grid
// on Tab.
class ScheduleCellDelegate : public GridCellDelegate {
public:
    explicit ScheduleCellDelegate(TScheduleForm& form) : GridCellDelegate(&form), form_(form) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = GridCellDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setFrame(false);
            FilterInput(line, form_.host_);
            // Text can come in without a key: from an input method, a drop,
            // the context menu's paste. The day is marked all the same.
            connect(line, &QLineEdit::textEdited, this,
                    [this] { Guarded(form_.host_.prompts(), [this] { form_.ScheduleStringGridKeyDown(); }); });
        }
        return editor;
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            auto* editor = qobject_cast<QWidget*>(object);
            if (editor && IsTab(key)) {
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
                form_.LeaveGrid(IsForwardTab(key));
                return true;
            }
            Guarded(form_.host_.prompts(), [this] { form_.ScheduleStringGridKeyDown(); });
        }
        return GridCellDelegate::eventFilter(object, event);
    }

private:
    TScheduleForm& form_;
};

TScheduleForm::TScheduleForm(FormHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName(QStringLiteral("ScheduleForm"));
    setWindowTitle(QStringLiteral("予定表"));
    setFont(FormFont());

    auto* grid = new ScheduleGrid(kRows, kColumns, this);
    ScheduleStringGrid = grid;
    ScheduleStringGrid->setObjectName(QStringLiteral("ScheduleStringGrid"));
    ScheduleStringGrid->setGeometry(0, 0, kClientWidth, kGridHeight);
    ScheduleStringGrid->setStatusTip(QStringLiteral("スケデュールを記入"));
    ScheduleStringGrid->setFont(FormFont(kGridFontPixels));
    ScheduleStringGrid->horizontalHeader()->hide();
    ScheduleStringGrid->verticalHeader()->hide();
    ScheduleStringGrid->horizontalHeader()->setMinimumSectionSize(1);
    ScheduleStringGrid->verticalHeader()->setMinimumSectionSize(1);
    ScheduleStringGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ScheduleStringGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ScheduleStringGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    for (int row = 0; row < kRows; ++row)
        ScheduleStringGrid->setRowHeight(row, kRowHeight);
    ScheduleStringGrid->setShowGrid(true);
    ScheduleStringGrid->setWordWrap(false);
    ScheduleStringGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    ScheduleStringGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    ScheduleStringGrid->setTabKeyNavigation(false);
    ScheduleStringGrid->setEditTriggers(kEditTriggers);
    ScheduleStringGrid->setItemDelegate(new ScheduleCellDelegate(*this));
    ScheduleStringGrid->installEventFilter(this);

    // The headings are cells of the grid itself: not enabled (so neither
    // the cursor nor a selection reaches them), drawn in the fixed colours.
    const QPalette colours = ScheduleStringGrid->palette();
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            auto* item = new QTableWidgetItem;
            if (row == 0 || column == 0) {
                item->setFlags(Qt::NoItemFlags);
                item->setBackground(colours.brush(QPalette::Active, QPalette::Button));
                item->setForeground(colours.brush(QPalette::Active, QPalette::ButtonText));
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
            }
            ScheduleStringGrid->setItem(row, column, item);
        }
    }
    grid->FixHeadingRow();
    ScheduleStringGrid->setCurrentCell(1, 1);

    Label3 = new QLabel(QStringLiteral("メモ："), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    const QSize labelHint = Label3->sizeHint();
    Label3->setGeometry(kLabelLeft, kLabelTop, std::max(26, labelHint.width()), std::max(12, labelHint.height()));

    ScheduleMemo = new QPlainTextEdit(this);
    ScheduleMemo->setObjectName(QStringLiteral("ScheduleMemo"));
    ScheduleMemo->setGeometry(0, kMemoTop, kClientWidth, kMemoHeight);
    ScheduleMemo->setStatusTip(QStringLiteral("予定のメモを記入"));
    ScheduleMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    ScheduleMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScheduleMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the next control instead of going into the text.
    ScheduleMemo->setTabChangesFocus(true);
    FilterInput(ScheduleMemo, host_);

    setTabOrder(ScheduleStringGrid, ScheduleMemo);
    ScheduleStringGrid->setFocus();

    connect(ScheduleMemo, &QPlainTextEdit::textChanged, this,
            [this] { Guarded(host_.prompts(), [this] { ScheduleMemoChange(); }); });

    resize(kClientWidth, kClientHeight);
    Guarded(host_.prompts(), [this] { FormCreate(); });
}

void TScheduleForm::FormCreate()
{
    setWindowTitle(QStringLiteral("今日の予定"));
    ScheduleStringGrid->setColumnWidth(0, kHeadingColumnWidth);
    ScheduleStringGrid->setColumnWidth(1, kEntryColumnWidth);
    SetCell(0, 0, QStringLiteral("時間"));
    AlignCell(0, 0, Align::Center);
    SetCell(1, 0, QStringLiteral("記事"));
    AlignCell(1, 0, Align::Center);
    for (int row = 1; row < kRows; ++row)
        SetCell(0, row, QStringLiteral("%1:00").arg(row + 7));
    for (int row = 1; row < kRows; ++row)
        AlignCell(0, row, Align::Right);
    ScheduleMemo->clear();
}

QString TScheduleForm::Cell(int column, int row) const
{
    const QTableWidgetItem* item = ScheduleStringGrid->item(row, column);
    return item ? item->text() : QString();
}

void TScheduleForm::SetCell(int column, int row, const QString& text)
{
    QTableWidgetItem* item = ScheduleStringGrid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        ScheduleStringGrid->setItem(row, column, item);
    }
    item->setText(text);
}

void TScheduleForm::AlignCell(int column, int row, Align mode)
{
    const int width = ScheduleStringGrid->columnWidth(column);
    const int points = WholePoints(kGridFontPixels, ScheduleStringGrid->logicalDpiY());
    if (points <= 0)
        return;
    const int capacity = static_cast<int>(width / (points / 2.0));
    const QString text = Cell(column, row);
    const int length = static_cast<int>(RecordText(text).size());
    const int free = capacity - 1 - length;
    const int spaces = mode == Align::Center ? free / 2 : free;
    if (spaces > 0)
        SetCell(column, row, QString(spaces, QLatin1Char(' ')) + text);
}

void TScheduleForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Guarded(host_.prompts(), [this] { FormResize(); });
}

void TScheduleForm::FormResize()
{
    const int clientWidth = width();
    const int clientHeight = height();
    ScheduleStringGrid->setGeometry(0, 0, clientWidth, kGridHeight);
    const int memoHeight = clientHeight > kMemoTop + kMemoHeight ? clientHeight - kMemoTop : kMemoHeight;
    ScheduleMemo->setGeometry(0, kMemoTop, clientWidth, memoHeight);
}

bool TScheduleForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ScheduleStringGrid && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Tab moves the focus on before the grid sees it.
        if (!IsTab(key))
            Guarded(host_.prompts(), [this] { ScheduleStringGridKeyDown(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TScheduleForm::SetReadOnly(bool readOnly)
{
    // A cell being edited closes without storing what was typed into it.
    if (QWidget* editor = ScheduleStringGrid->indexWidget(ScheduleStringGrid->currentIndex()); editor && readOnly)
        emit ScheduleStringGrid->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::NoHint);
    ScheduleStringGrid->setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers : kEditTriggers);
    ScheduleMemo->setReadOnly(readOnly);
}

void TScheduleForm::ScheduleMemoChange() { host_.SetModified(true); }

void TScheduleForm::ScheduleStringGridKeyDown() { host_.SetModified(true); }

void TScheduleForm::LeaveGrid(bool forward)
{
    // The grid has the focus back from the closed editor; the Tab key moves
    // on from there along the window's tab order, as it does from the grid.
    QKeyEvent tab(QEvent::KeyPress, forward ? Qt::Key_Tab : Qt::Key_Backtab,
                  forward ? Qt::NoModifier : Qt::ShiftModifier);
    QCoreApplication::sendEvent(ScheduleStringGrid, &tab);
}

} // namespace kiv
