// SPDX-License-Identifier: GPL-3.0-or-later
// The diary and schedule windows: start state, the modified flag, the
// resize rules, in-place editing of the schedule grid and what the editors
// take in.
#include "TDiaryForm.h"
#include "TScheduleForm.h"
#include "TestHost.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

using kiv::TDiaryForm;
using kiv::TScheduleForm;

namespace {

// The ways text comes into an editor.
// Compose: the input method shows a pre-edit, then commits it.
enum class Route { Type, Compose, Commit, Paste, MenuPaste, Drop };

// One key with a text, as a keyboard or input method would type it.
void Type(QWidget* target, const QString& text, int key = 0)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

QString Spaces(int count) { return QString(count, QLatin1Char(' ')); }

// The next control that Tab reaches.
QWidget* NextTabStop(QWidget* widget)
{
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

} // namespace

class EditorFormsTest : public QObject {
    Q_OBJECT

private slots:
    void diaryStartsEmptyWithItsCaption()
    {
        TestHost host;
        TDiaryForm form(host);
        QCOMPARE(form.windowTitle(), QStringLiteral("今日の日記"));
        QVERIFY(form.WeatherEdit->text().isEmpty());
        QVERIFY(form.TemperatureEdit->text().isEmpty());
        QVERIFY(form.DayBookMemo->toPlainText().isEmpty());
        QCOMPARE(form.WeatherEdit->geometry(), QRect(8, 24, 121, 20));
        QCOMPARE(form.TemperatureEdit->geometry(), QRect(152, 24, 121, 20));
        QCOMPARE(form.DayBookMemo->geometry(), QRect(0, 80, 536, 268));
        QCOMPARE(form.font().pixelSize(), 12);
        QVERIFY(form.WeatherEdit->toolTip().isEmpty());
        // Tab order: memo, weather, temperature.
        QCOMPARE(NextTabStop(form.DayBookMemo), static_cast<QWidget*>(form.WeatherEdit));
        QCOMPARE(NextTabStop(form.WeatherEdit), static_cast<QWidget*>(form.TemperatureEdit));
    }

    void diaryTypingSetsTheFlagAndUndoingKeepsIt_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("weather") << "WeatherEdit";
        QTest::newRow("temperature") << "TemperatureEdit";
        QTest::newRow("diary") << "DayBookMemo";
    }

    void diaryTypingSetsTheFlagAndUndoingKeepsIt()
    {
        QFETCH(QString, control);
        TestHost host;
        TDiaryForm form(host);
        host.modified = false;
        auto* target = form.findChild<QWidget*>(control);
        QVERIFY(target);
        Type(target, QStringLiteral("晴"));
        QVERIFY(host.modified);
        host.modified = false;
        QTest::keyClick(target, Qt::Key_Backspace);
        QVERIFY(host.modified);
        if (auto* line = qobject_cast<QLineEdit*>(target))
            QVERIFY(line->text().isEmpty());
        else
            QVERIFY(qobject_cast<QPlainTextEdit*>(target)->toPlainText().isEmpty());
    }

    void diaryProgramChangesSetTheFlagToo()
    {
        TestHost host;
        TDiaryForm form(host);
        host.modified = false;
        form.DayBookMemo->setPlainText(QStringLiteral("日記"));
        QVERIFY(host.modified);
        host.modified = false;
        form.WeatherEdit->setText(QStringLiteral("雨"));
        QVERIFY(host.modified);
    }

    void diaryResizeRule_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("memo");
        QTest::newRow("400x300") << QSize(400, 300) << QRect(0, 80, 400, 220);
        QTest::newRow("exactly the band") << QSize(500, 80) << QRect(0, 80, 500, 0);
        QTest::newRow("lower than the band") << QSize(500, 50) << QRect(0, 80, 500, 0);
        QTest::newRow("large") << QSize(900, 700) << QRect(0, 80, 900, 620);
    }

    void diaryResizeRule()
    {
        QFETCH(QSize, client);
        QFETCH(QRect, memo);
        TestHost host;
        TDiaryForm form(host);
        form.show();
        form.resize(client);
        QCOMPARE(form.DayBookMemo->geometry(), memo);
        QCOMPARE(form.WeatherEdit->geometry(), QRect(8, 24, 121, 20));
        QCOMPARE(form.TemperatureEdit->geometry(), QRect(152, 24, 121, 20));
        QCOMPARE(form.Label3->pos(), QPoint(8, 64));
    }

    void scheduleStartState()
    {
        TestHost host;
        TScheduleForm form(host);
        QTableWidget* grid = form.ScheduleStringGrid;
        QCOMPARE(form.windowTitle(), QStringLiteral("今日の予定"));
        // The headings' leading spaces hold at 96 dpi only.
        QCOMPARE(grid->logicalDpiY(), 96);
        QCOMPARE(form.Cell(0, 0), Spaces(3) + QStringLiteral("時間"));
        QCOMPARE(form.Cell(1, 0), Spaces(44) + QStringLiteral("記事"));
        QCOMPARE(form.Cell(0, 1), Spaces(6) + QStringLiteral("8:00"));
        QCOMPARE(form.Cell(0, 2), Spaces(6) + QStringLiteral("9:00"));
        for (int row = 3; row <= 11; ++row)
            QCOMPARE(form.Cell(0, row), Spaces(5) + QStringLiteral("%1:00").arg(row + 7));
        for (int row = 1; row <= 11; ++row)
            QVERIFY(form.Cell(1, row).isEmpty());
        QVERIFY(form.ScheduleMemo->toPlainText().isEmpty());

        QCOMPARE(grid->columnCount(), 2);
        QCOMPARE(grid->rowCount(), 12);
        QCOMPARE(grid->columnWidth(0), 64);
        QCOMPARE(grid->columnWidth(1), 512);
        for (int row = 0; row < 12; ++row)
            QCOMPARE(grid->rowHeight(row), 20);
        QCOMPARE(grid->font().pixelSize(), 15);
        QCOMPARE(grid->geometry(), QRect(0, 0, 536, 233));
        QCOMPARE(form.ScheduleMemo->geometry(), QRect(0, 259, 536, 89));
        QCOMPARE(form.Label3->pos(), QPoint(8, 240));
        // Headings are fixed; the entries are edited in place.
        for (int row = 0; row < 12; ++row)
            QVERIFY(!(grid->item(row, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(!(grid->item(0, 1)->flags() & Qt::ItemIsEditable));
        for (int row = 1; row < 12; ++row)
            QVERIFY(grid->item(row, 1)->flags() & Qt::ItemIsEditable);
        QCOMPARE(grid->currentRow(), 1);
        QCOMPARE(grid->currentColumn(), 1);
    }

    void alignCellCountsCp932Bytes()
    {
        TestHost host;
        TScheduleForm form(host);
        // Column 1 holds 93 half-width characters at 11 points.
        form.SetCell(1, 5, QStringLiteral("abcd"));
        form.AlignCell(1, 5, TScheduleForm::Align::Right);
        QCOMPARE(form.Cell(1, 5), Spaces(88) + QStringLiteral("abcd"));
        // A text as long as the column gets no spaces.
        const QString full(92, QLatin1Char('x'));
        form.SetCell(1, 6, full);
        form.AlignCell(1, 6, TScheduleForm::Align::Center);
        QCOMPARE(form.Cell(1, 6), full);
        // Column 0 holds 11: free = 11 - 1 - 7 = 3, centred 1.
        form.SetCell(0, 7, QStringLiteral("予定あa"));
        form.AlignCell(0, 7, TScheduleForm::Align::Center);
        QCOMPARE(form.Cell(0, 7), Spaces(1) + QStringLiteral("予定あa"));
        // free = 1, halved toward zero: nothing.
        form.SetCell(0, 8, QStringLiteral("予定あいa"));
        form.AlignCell(0, 8, TScheduleForm::Align::Center);
        QCOMPARE(form.Cell(0, 8), QStringLiteral("予定あいa"));
        // free < 0: nothing either way.
        form.SetCell(0, 9, QStringLiteral("予定予定予定"));
        form.AlignCell(0, 9, TScheduleForm::Align::Right);
        QCOMPARE(form.Cell(0, 9), QStringLiteral("予定予定予定"));
    }

    void scheduleEveryKeyInTheGridSetsTheFlag_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("down") << int(Qt::Key_Down);
        QTest::newRow("right") << int(Qt::Key_Right);
        QTest::newRow("page up") << int(Qt::Key_PageUp);
        QTest::newRow("shift alone") << int(Qt::Key_Shift);
    }

    void scheduleEveryKeyInTheGridSetsTheFlag()
    {
        QFETCH(int, key);
        TestHost host;
        TScheduleForm form(host);
        host.modified = false;
        QTest::keyClick(form.ScheduleStringGrid, Qt::Key(key));
        QVERIFY(host.modified);
        for (int row = 1; row <= 11; ++row)
            QVERIFY(form.Cell(1, row).isEmpty());
    }

    void scheduleMemoChangeSetsTheFlag()
    {
        TestHost host;
        TScheduleForm form(host);
        host.modified = false;
        Type(form.ScheduleMemo, QStringLiteral("会議"));
        QVERIFY(host.modified);
        host.modified = false;
        form.ScheduleMemo->clear();
        QVERIFY(host.modified);
    }

    void scheduleInPlaceEditingAndTab()
    {
        TestHost host;
        TScheduleForm form(host);
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTableWidget* grid = form.ScheduleStringGrid;
        grid->setFocus();
        grid->setCurrentCell(3, 1);

        // A key in the grid marks the day and opens the cell's editor.
        host.modified = false;
        QTest::keyClick(grid, Qt::Key_A);
        QVERIFY(host.modified);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("a"));

        // Keys in the editor mark it too, arrows included.
        host.modified = false;
        QTest::keyClick(editor, Qt::Key_Left);
        QVERIFY(host.modified);
        host.modified = false;
        Type(editor, QStringLiteral("会"));
        QVERIFY(host.modified);
        QCOMPARE(editor->text(), QStringLiteral("会a"));

        // Tab stores the cell and leaves for the memo, without marking.
        host.modified = false;
        QTest::keyClick(editor, Qt::Key_Tab);
        QVERIFY(!host.modified);
        QCOMPARE(form.Cell(1, 3), QStringLiteral("会a"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.ScheduleMemo));
        QCOMPARE(grid->currentRow(), 3);

        // From the grid itself Tab goes to the memo as well.
        grid->setFocus();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(grid));
        QTest::keyClick(grid, Qt::Key_Tab);
        QVERIFY(!host.modified);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.ScheduleMemo));

        // Shift+Tab in an editor stores the cell and goes backwards, past
        // the grid.
        grid->setFocus();
        grid->setCurrentCell(4, 1);
        QTest::keyClick(grid, Qt::Key_B);
        editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(form.Cell(1, 4), QStringLiteral("b"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.ScheduleMemo)); // the only other stop
    }

    // The memos take no Tab characters: Tab walks the tab order from them
    // as from any other control, and the day is not marked by it.
    void tabLeavesTheMemos()
    {
        TestHost host;
        TDiaryForm diary(host);
        diary.show();
        diary.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&diary));
        diary.DayBookMemo->setFocus();
        host.modified = false;
        QTest::keyClick(diary.DayBookMemo, Qt::Key_Tab);
        QVERIFY(diary.DayBookMemo->toPlainText().isEmpty());
        QVERIFY(!host.modified);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(diary.WeatherEdit));
        diary.hide();

        TScheduleForm schedule(host);
        schedule.show();
        schedule.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&schedule));
        schedule.ScheduleMemo->setFocus();
        host.modified = false;
        QTest::keyClick(schedule.ScheduleMemo, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(schedule.ScheduleMemo->toPlainText().isEmpty());
        QVERIFY(!host.modified);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(schedule.ScheduleStringGrid));
    }

    void hoursScrollUnderTheFixedHeadings()
    {
        TestHost host;
        TScheduleForm form(host);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTableWidget* grid = form.ScheduleStringGrid;
        auto* headings = grid->findChild<QTableView*>(QStringLiteral("qt_schedule_headings"));
        QVERIFY(headings);
        QVERIFY(headings->isVisible());
        QCOMPARE(headings->geometry(), QRect(grid->viewport()->pos(), QSize(grid->viewport()->width(), 20)));

        grid->setFocus();
        grid->setCurrentCell(10, 1);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(grid->currentRow(), 11);
        // 18:00 is now whole below the headings; the hours moved one whole
        // row, 9:00 right below the headings.
        const QRect last = grid->visualRect(grid->model()->index(11, 1));
        QVERIFY(last.bottom() < grid->viewport()->height());
        QCOMPARE(grid->visualRect(grid->model()->index(2, 0)).top(), 20);
        QCOMPARE(grid->visualRect(grid->model()->index(1, 0)).top(), 0);
        QCOMPARE(grid->horizontalScrollBar()->value(), 0);
        QVERIFY(headings->isVisible());
        // The scroll bar, dragged anywhere, stops on whole rows.
        grid->verticalScrollBar()->setValue(7);
        QCOMPARE(grid->verticalScrollBar()->value(), 0);

        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(grid, Qt::Key_PageUp);
        QCOMPARE(grid->currentRow(), 1);
        QCOMPARE(grid->visualRect(grid->model()->index(1, 1)).top(), 20);
    }

    // With figures wider than the first choice of font has (the fallback
    // font's), the hour labels still end inside their column, whole: each
    // label's ink in the grid spans as wide as the same text drawn uncut.
    void hourLabelsEndInsideTheirColumn()
    {
        TestHost host;
        TScheduleForm form(host);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTableWidget* grid = form.ScheduleStringGrid;
        const QImage image = grid->viewport()->grab().toImage();
        const qreal scale = image.devicePixelRatio();
        // The first and last inked columns of a strip of the image.
        auto ink = [](const QImage& picture, const QRect& strip) {
            int first = -1;
            int last = -1;
            for (int x = strip.left(); x <= strip.right(); ++x)
                for (int y = strip.top(); y <= strip.bottom(); ++y)
                    if (QColor(picture.pixel(x, y)).lightness() < 128) {
                        first = first < 0 ? x : first;
                        last = x;
                        break;
                    }
            return std::pair(first, last);
        };
        for (int row = 1; row <= 10; ++row) {
            const QTableWidgetItem* item = grid->item(row, 0);
            const QRect cell = grid->visualRect(grid->model()->index(row, 0));
            const QRect pixels(cell.topLeft() * scale, cell.size() * scale);
            const auto [first, last] = ink(image, pixels);
            QVERIFY(first >= 0);
            // The cell's last two pixels, before the grid line, stay clear.
            QVERIFY2(last <= pixels.right() - 2 * scale, qPrintable(item->text()));

            QImage uncut(QSize(4 * cell.width(), cell.height()) * scale, QImage::Format_RGB32);
            uncut.setDevicePixelRatio(scale);
            uncut.fill(item->background().color());
            QPainter painter(&uncut);
            painter.setFont(grid->font());
            painter.setPen(item->foreground().color());
            painter.drawText(QRect(2, 2, 4 * cell.width(), cell.height()), Qt::AlignLeft | Qt::AlignTop, item->text());
            painter.end();
            const auto [uncutFirst, uncutLast] = ink(uncut, uncut.rect());
            QCOMPARE(last - first, uncutLast - uncutFirst);
        }
    }

    // Every way text comes into the editors takes in what code page 932
    // can hold and leaves out the rest, saying so; the input method's
    // pre-edit is shown uncut, and a text with nothing storable in it
    // leaves the editor and the day as they were.
    void editorsTakeOnlyWhatCanBeStored_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("route");
        QTest::addColumn<QString>("incoming");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("left");
        QTest::addColumn<bool>("modified");
        for (const char* control : {"weather", "diary", "schedule memo", "schedule cell"}) {
            auto row = [&](const char* route, Route way, const char* incoming, const char* kept, const char* left,
                           bool modified) {
                QTest::addRow("%s, %s", control, route)
                    << QString(control) << int(way) << QString(incoming) << QString(kept) << QString(left) << modified;
            };
            row("composed and committed", Route::Compose, "今日は😀晴れ", "今日は晴れ", "😀", true);
            row("paste", Route::Paste, "𠮷野家", "野家", "𠮷", true);
            row("paste from the context menu", Route::MenuPaste, "𠮷野家", "野家", "𠮷", true);
            row("drop", Route::Drop, "€曇り€", "曇り", "€", true);
            row("commit of nothing storable", Route::Commit, "😀€😀", "", "😀€", false);
            // Every key in the schedule's cell editor marks the day.
            row("typed, nothing storable", Route::Type, "😀", "", "😀", QString(control) == "schedule cell");
        }
    }

    void editorsTakeOnlyWhatCanBeStored()
    {
        QFETCH(QString, control);
        QFETCH(int, route);
        QFETCH(QString, incoming);
        QFETCH(QString, kept);
        QFETCH(QString, left);
        QFETCH(bool, modified);

        TestHost host;
        TDiaryForm diary(host);
        TScheduleForm schedule(host);
        QWidget* form = control.startsWith("schedule") ? static_cast<QWidget*>(&schedule) : &diary;
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        QWidget* editor = nullptr;
        if (control == "weather") {
            diary.WeatherEdit->setText("朝");
            editor = diary.WeatherEdit;
        } else if (control == "diary" || control == "schedule memo") {
            QPlainTextEdit* memo = control == "diary" ? diary.DayBookMemo : schedule.ScheduleMemo;
            memo->setPlainText("朝");
            memo->moveCursor(QTextCursor::End);
            editor = memo;
        } else {
            schedule.SetCell(1, 2, "朝");
            schedule.ScheduleStringGrid->setFocus();
            schedule.ScheduleStringGrid->setCurrentCell(2, 1);
            QTest::keyClick(schedule.ScheduleStringGrid, Qt::Key_F2);
            editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        }
        QVERIFY(editor);
        auto* memo = qobject_cast<QPlainTextEdit*>(editor);
        auto* line = qobject_cast<QLineEdit*>(editor);
        auto text = [&] { return memo ? memo->toPlainText() : line->text(); };
        if (line)
            line->end(false);
        editor->setFocus();
        host.modified = false;

        switch (Route(route)) {
        case Route::Type:
            Type(editor, incoming);
            break;
        case Route::Compose: {
            QInputMethodEvent composing(incoming, {});
            QApplication::sendEvent(editor, &composing);
            if (memo)
                QCOMPARE(memo->textCursor().block().layout()->preeditAreaText(), incoming);
            QCOMPARE(host.beeps(), 0);
            [[fallthrough]];
        }
        case Route::Commit: {
            QInputMethodEvent commit;
            commit.setCommitString(incoming);
            QApplication::sendEvent(editor, &commit);
            break;
        }
        case Route::Paste:
            QApplication::clipboard()->setText(incoming);
            QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
            break;
        case Route::MenuPaste: {
            QApplication::clipboard()->setText(incoming);
            QTimer::singleShot(0, [] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                const QString paste = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
                for (QAction* action : menu->actions())
                    if (action->text().endsWith(paste))
                        action->trigger();
                menu->close();
            });
            QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(4, 4), editor->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(memo ? memo->viewport() : editor, &click);
            break;
        }
        case Route::Drop: {
            // At the end of the first line.
            QWidget* surface = memo ? memo->viewport() : editor;
            const QPoint end(surface->width() - 4, memo ? 4 : surface->height() / 2);
            QMimeData data;
            data.setText(incoming);
            QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &enter);
            QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &drop);
            QCOMPARE(drop.isAccepted(), !kept.isEmpty());
            break;
        }
        }
        QCOMPARE(text(), "朝" + kept);
        QCOMPARE(host.beeps(), 1);
        QCOMPARE(host.hints, std::vector<std::string>{"保存できない文字を除きました: " + left.toStdString()});
        QCOMPARE(host.modified, modified);
    }

    void scheduleResizeRule_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("memoHeight");
        QTest::newRow("348 high") << QSize(536, 348) << 89;
        QTest::newRow("349 high") << QSize(536, 349) << 90;
        QTest::newRow("300 high") << QSize(536, 300) << 89;
        QTest::newRow("600 high, narrow") << QSize(300, 600) << 341;
        QTest::newRow("800 wide") << QSize(800, 400) << 141;
    }

    void scheduleResizeRule()
    {
        QFETCH(QSize, client);
        QFETCH(int, memoHeight);
        TestHost host;
        TScheduleForm form(host);
        form.show();
        form.resize(client);
        QCOMPARE(form.ScheduleStringGrid->geometry(), QRect(0, 0, client.width(), 233));
        QCOMPARE(form.ScheduleMemo->geometry(), QRect(0, 259, client.width(), memoHeight));
        QCOMPARE(form.Label3->pos(), QPoint(8, 240));
    }
};

QTEST_MAIN(EditorFormsTest)
#include "tst_editorforms.moc"
