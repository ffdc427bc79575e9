// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Prompts.h"

class QWidget;

namespace kiv {

// The prompts of the running program: Qt's message boxes, file dialogs and
// the system beep.
class QtPrompts : public Prompts {
public:
    // Dialogs are shown over the given window (may be null).
    explicit QtPrompts(QWidget* parentWindow = nullptr) : parent_(parentWindow) {}

    void setParentWindow(QWidget* parentWindow) { parent_ = parentWindow; }

    void Beep() override;
    Answer Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons) override;
    bool OpenFile(FileDialog& dialog) override;
    bool SaveFile(FileDialog& dialog) override;
    bool RunModal(QDialog& dialog) override;
    Answer MessageWithCheck(Icon icon, const std::string& caption, const std::string& text, Buttons buttons,
                            const std::string& check, bool& checked) override;
    bool WaitWhile(const std::string& text, const std::function<bool()>& busy) override;

private:
    QWidget* parent_;
};

// "desc|pattern|desc|pattern" -> "desc (pattern);;desc (pattern)", the
// patterns' ';' separators becoming spaces.
std::string QtFileFilter(const std::string& filter);

} // namespace kiv
