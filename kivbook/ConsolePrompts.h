// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Prompts.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kiv::kivbook {

// The prompts seam on a console. Messages go to standard error as
// "kivbook: text"; beeps are silent; a question is never put to the user:
// it takes the answer the command's options set, else the answer that
// changes nothing (No, or Cancel where there is one), and says so. There
// are no dialogs.
class ConsolePrompts final : public Prompts {
public:
    explicit ConsolePrompts(std::ostream& err)
        : err_(err)
    {
    }

    void Beep() override { }
    Answer Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons) override;
    bool OpenFile(FileDialog&) override { return false; }
    bool SaveFile(FileDialog&) override { return false; }
    bool RunModal(QDialog&) override { return false; }
    // kivbook waits for a locked book inside the Zip library, as long as
    // its setting says; nothing here waits.
    bool WaitWhile(const std::string&, const std::function<bool()>& busy) override { return !busy(); }

    void SetAnswer(Answer answer) { answer_ = answer; }

    // Error messages shown so far, printed or captured.
    int ErrorCount() const { return errorCount_; }
    // The text of the last error message, printed or captured.
    const std::string& LastError() const { return lastError_; }

    // Between StartCapture and EndCapture messages are collected instead of
    // printed.
    void StartCapture();
    std::vector<std::string> EndCapture();

    // Prints a message of kivbook's own, as the seam prints the program's.
    void Print(const std::string& text);

private:
    std::ostream& err_;
    std::optional<Answer> answer_;
    int errorCount_ = 0;
    std::string lastError_;
    bool capturing_ = false;
    std::vector<std::string> captured_;
};

} // namespace kiv::kivbook
