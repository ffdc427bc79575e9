// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FormHost.h"
#include "ScriptedPrompts.h"

#include <QDate>

#include <functional>
#include <string>
#include <vector>

// The main window's side of the forms, as the tests play it: a modified
// flag, a book name or none, the current date, and records of what the
// forms asked of it.
class TestHost : public kiv::FormHost {
public:
    kiv::ScriptedPrompts scripted;
    bool modified = false;
    bool bookNamed = false;
    QDate current = QDate::currentDate();
    int clearEditorsCalls = 0;
    int changeDateCalls = 0;
    std::vector<std::string> hints;
    // Run inside ChangeDate, e.g. to look at the calendar then.
    std::function<void()> onChangeDate;

    kiv::Prompts& prompts() override { return scripted; }
    bool Modified() const override { return modified; }
    void SetModified(bool value) override { modified = value; }
    bool BookNamed() const override { return bookNamed; }
    void ClearEditors() override { ++clearEditorsCalls; }
    void ChangeDate() override
    {
        ++changeDateCalls;
        if (onChangeDate)
            onChangeDate();
    }
    void CurrentDate(int& year, int& month, int& day) const override
    {
        year = current.year();
        month = current.month();
        day = current.day();
    }
    void ShowHint(const std::string& hint) override { hints.push_back(hint); }

    int beeps() const
    {
        int count = 0;
        for (const auto& shown : scripted.shown())
            count += shown.kind == kiv::ScriptedPrompts::Kind::Beep;
        return count;
    }
};
