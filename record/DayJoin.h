// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TDayBook.h"

#include <ctime>
#include <string>

namespace kiv {

// Two versions of one day, as two copies of a book (or a book and the
// window that edited it) hold them, joined so that no text of either is
// lost: the newer version, with each text of the older that the newer does
// not already contain appended to the same field (an older text that holds
// the whole newer one takes its place). The diary's addition
// starts with a line naming the older version's time (OtherVersionLine);
// the schedule memo's on a line of its own; a one-line field's after " / ".
// A picture only the older has is taken over; when both have one and they
// differ, the newer's stays and the caller keeps the older's elsewhere.
//
// Joining again with the same older version adds nothing, so joins
// converge: a text is contained when its bytes appear in the field starting
// at a character boundary of code page 932.
struct JoinedDay {
    TDayBook day;
    bool extended = false; // the older gave something the newer lacked
    bool pictureSetAside = false; // the older's picture differs and is not in day
};
JoinedDay JoinDays(const TDayBook& newer, const TDayBook& older, std::time_t olderTime);

// "――― 別の版 (yyyy/mm/dd hh:mm) ―――" in code page 932, the time in local time.
std::string OtherVersionLine(std::time_t time);

// Whether two records hold the same texts and picture.
bool SameDay(const TDayBook& a, const TDayBook& b);

// Whether text holds part at a character boundary (an empty part is held
// by every text).
bool HoldsText(const std::string& text, const std::string& part);

} // namespace kiv
