// SPDX-License-Identifier: GPL-3.0-or-later
#include "DayJoin.h"

#include "Cp932.h"

#include <cstdio>

namespace kiv {
namespace {

// The one-line fields: the schedule rows, the weather and the temperature.
enum class Field { OneLine, Memo, Diary };

void Append(std::string& field, const std::string& older, Field kind, const std::string& versionLine, bool& extended)
{
    if (HoldsText(field, older))
        return;
    extended = true;
    // An older text that holds the whole newer one loses nothing of it.
    if (HoldsText(older, field)) {
        field = older;
        return;
    }
    switch (kind) {
    case Field::OneLine:
        field += " / ";
        break;
    case Field::Memo:
        field += "\r\n";
        break;
    case Field::Diary:
        if (field.size() < 2 || field.compare(field.size() - 2, 2, "\r\n") != 0)
            field += "\r\n";
        field += versionLine + "\r\n";
        break;
    }
    field += older;
}

bool SamePicture(const TDayBook& a, const TDayBook& b)
{
    return a.PhotoKind() == b.PhotoKind() && a.PhotoData() == b.PhotoData() && a.Photo() == b.Photo();
}

} // namespace

bool HoldsText(const std::string& text, const std::string& part)
{
    if (part.empty())
        return true;
    for (std::size_t at = 0; at + part.size() <= text.size();) {
        if (text.compare(at, part.size(), part) == 0)
            return true;
        at += IsCp932LeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1;
    }
    return false;
}

std::string OtherVersionLine(std::time_t time)
{
    std::tm local {};
    localtime_r(&time, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min);
    return Cp932FromUtf8(std::string("――― 別の版 (") + stamp + ") ―――");
}

bool SameDay(const TDayBook& a, const TDayBook& b)
{
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
        if (a.Schedule(row) != b.Schedule(row))
            return false;
    return a.ScheduleMemo == b.ScheduleMemo && a.Weather == b.Weather && a.Temperature == b.Temperature
        && a.Diary == b.Diary && SamePicture(a, b);
}

JoinedDay JoinDays(const TDayBook& newer, const TDayBook& older, std::time_t olderTime)
{
    JoinedDay joined { newer };
    TDayBook old = older;
    // A picture of the old "Photo.Data" kind compares as the BMP it is.
    joined.day.ConvertPhotoBitmap();
    old.ConvertPhotoBitmap();
    const std::string versionLine = OtherVersionLine(olderTime);
    bool& extended = joined.extended;
    for (int row = 1; row <= TDayBook::kScheduleRows; ++row) {
        std::string text = joined.day.Schedule(row);
        Append(text, old.Schedule(row), Field::OneLine, versionLine, extended);
        joined.day.SetSchedule(row, std::move(text));
    }
    Append(joined.day.ScheduleMemo, old.ScheduleMemo, Field::Memo, versionLine, extended);
    Append(joined.day.Weather, old.Weather, Field::OneLine, versionLine, extended);
    Append(joined.day.Temperature, old.Temperature, Field::OneLine, versionLine, extended);
    Append(joined.day.Diary, old.Diary, Field::Diary, versionLine, extended);
    if (old.PhotoSize() > 0 && !SamePicture(joined.day, old)) {
        if (joined.day.PhotoSize() > 0) {
            joined.pictureSetAside = true;
        } else {
            joined.day.SetPhotoData(old.PhotoData().data(), old.PhotoSize(), old.PhotoKind());
            extended = true;
        }
    }
    return joined;
}

} // namespace kiv
