// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kiv {

class Prompts;

// What the child windows and the calendar need from the main window: the
// modified flag, the change of date, the book's name and the status bar.
class FormHost {
public:
    virtual ~FormHost() = default;

    virtual Prompts& prompts() = 0;
    virtual bool Modified() const = 0;
    virtual void SetModified(bool modified) = 0;
    // True when a book file name is set.
    virtual bool BookNamed() const = 0;
    // Empties all editor windows (does not touch the record or the flag).
    virtual void ClearEditors() = 0;
    // Switches the shown day to the calendar's date.
    virtual void ChangeDate() = 0;
    // The main window's current date as yyyy, m, d.
    virtual void CurrentDate(int& year, int& month, int& day) const = 0;
    // Shows a hint (UTF-8) in the main window's status bar.
    virtual void ShowHint(const std::string& hint) = 0;
};

} // namespace kiv
