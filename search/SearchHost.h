// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeywordTest.h"

#include <string>

class QDate;

namespace kiv {

class FormHost;

// What the search window needs from the main window beyond what every
// child window gets.
class SearchHost {
public:
    virtual ~SearchHost() = default;

    virtual FormHost& formHost() = 0;
    // The book file name (the full path); empty when no book is named.
    virtual const std::string& BookFileName() const = 0;
    // Sets the calendar's date and empties the date list's text.
    virtual void SelectCalendarDate(const QDate& date) = 0;
    // After a found day is shown: marks what the search found in it.
    virtual void ShowHits(const SearchCriteria& /*criteria*/) {}
};

} // namespace kiv
