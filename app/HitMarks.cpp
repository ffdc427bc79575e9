// SPDX-License-Identifier: GPL-3.0-or-later
// The hits of a search, marked in the day shown.
#include "Workspace.h"

#include "TDiaryForm.h"
#include "TScheduleForm.h"
#include "TextBorder.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTextBlock>

#include <algorithm>
#include <map>

namespace kiv {
namespace {

const QColor kHitColour(255, 236, 120);

// The parts of a control's text that hold a hit, in the control's
// characters.
// The text is converted a piece at a time, from one hit's edge to the next:
// a day of megabytes with thousands of hits is converted once, not once a
// hit. At most kMostMarks hits are marked.
constexpr std::size_t kMostMarks = 10000;

std::vector<std::pair<int, int>> HitsIn(const DayTest& test, const QString& text)
{
    const std::string stored = RecordText(text);
    std::vector<std::pair<std::size_t, std::size_t>> ranges = test.HitRanges(stored);
    if (ranges.size() > kMostMarks)
        ranges.resize(kMostMarks);
    std::vector<std::size_t> edges;
    for (const auto& [first, last] : ranges)
        edges.insert(edges.end(), { first, last });
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    // Each edge's place in the control's characters.
    std::map<std::size_t, int> place;
    std::size_t done = 0;
    int characters = 0;
    for (const std::size_t edge : edges) {
        characters += static_cast<int>(ControlText(stored.substr(done, edge - done)).size());
        done = edge;
        place[edge] = characters;
    }
    std::vector<std::pair<int, int>> hits;
    for (const auto& [first, last] : ranges)
        hits.emplace_back(place[first], place[last]);
    return hits;
}

void MarkText(QPlainTextEdit* edit, const std::vector<std::pair<int, int>>& hits)
{
    QList<QTextEdit::ExtraSelection> marks;
    for (const auto& [first, last] : hits) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(edit->document());
        mark.cursor.setPosition(first);
        mark.cursor.setPosition(last, QTextCursor::KeepAnchor);
        mark.format.setBackground(kHitColour);
        marks.append(mark);
    }
    edit->setExtraSelections(marks);
}

// A one-line field holding a hit shows it in its background.
void MarkLine(QLineEdit* edit, bool hit)
{
    // An empty palette is the one the field inherits.
    QPalette palette;
    if (hit) {
        palette = edit->palette();
        palette.setColor(QPalette::Base, kHitColour);
    }
    edit->setPalette(palette);
}

} // namespace

void Workspace::SetModified(bool modified)
{
    modified_ = modified;
    if (modified && hitsShown_)
        ClearHits();
}

void Workspace::ShowHits(const SearchCriteria& criteria)
{
    ClearHits();
    if (!windows_.diary || !windows_.schedule)
        return;
    const DayTest test(criteria);
    TDiaryForm& diary = *windows_.diary;
    TScheduleForm& schedule = *windows_.schedule;
    MarkText(diary.DayBookMemo, HitsIn(test, diary.DayBookMemo->toPlainText()));
    MarkText(schedule.ScheduleMemo, HitsIn(test, schedule.ScheduleMemo->toPlainText()));
    MarkLine(diary.WeatherEdit, !HitsIn(test, diary.WeatherEdit->text()).empty());
    MarkLine(diary.TemperatureEdit, !HitsIn(test, diary.TemperatureEdit->text()).empty());
    for (int row = 1; row < TScheduleForm::kRows; ++row)
        if (QTableWidgetItem* item = schedule.ScheduleStringGrid->item(row, 1))
            item->setBackground(HitsIn(test, item->text()).empty() ? QBrush() : QBrush(kHitColour));
    hitsShown_ = true;
}

void Workspace::ClearHits()
{
    if (!hitsShown_)
        return;
    hitsShown_ = false;
    if (!windows_.diary || !windows_.schedule)
        return;
    windows_.diary->DayBookMemo->setExtraSelections({});
    windows_.schedule->ScheduleMemo->setExtraSelections({});
    MarkLine(windows_.diary->WeatherEdit, false);
    MarkLine(windows_.diary->TemperatureEdit, false);
    for (int row = 1; row < TScheduleForm::kRows; ++row)
        if (QTableWidgetItem* item = windows_.schedule->ScheduleStringGrid->item(row, 1))
            item->setBackground(QBrush());
}

} // namespace kiv
