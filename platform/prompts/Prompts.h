// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

class QDialog;

// The one seam through which the program beeps, asks, tells and shows file
// dialogs. Windows never call message boxes or file dialogs themselves.
// Texts are UTF-8.
namespace kiv {

inline constexpr const char* kAppTitle = "ＫＩＶの日記 V1.13";

enum class Icon { None, Warning, Error, Information };
// YesNoDefaultNo: Yes and No, with No taking Enter (a question whose Yes
// throws something away).
enum class Buttons { Ok, YesNo, YesNoCancel, YesNoDefaultNo };
enum class Answer { Ok, Yes, No, Cancel };

// The state of one of the main window's file dialogs (OpenDialog1,
// SaveDialog1): the commands set it before each use and read the choice.
struct FileDialog {
    std::string filter;     // "description|pattern|description|pattern"
    std::string defaultExt; // without the full stop; added by the save dialog when the user typed none
    std::string fileName;   // proposed on entry; the chosen path after a choice
};

class Prompts {
public:
    virtual ~Prompts() = default;

    virtual void Beep() = 0;
    virtual Answer Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons) = 0;
    // True when a file was chosen; its path is then in dialog.fileName.
    virtual bool OpenFile(FileDialog& dialog) = 0;
    virtual bool SaveFile(FileDialog& dialog) = 0;
    // Shows the dialog modally; true when it ended with OK.
    virtual bool RunModal(QDialog& dialog) = 0;
    // A message with a check box (labelled check) under its text; checked
    // is its state when shown and when the message ends. By default the
    // message alone, the box left as it was.
    virtual Answer MessageWithCheck(Icon icon, const std::string& caption, const std::string& text, Buttons buttons,
                                    const std::string& check, bool& checked)
    {
        (void)check;
        (void)checked;
        return Message(icon, caption, text, buttons);
    }
    // Waits while busy() says so (asked every moment) without stopping the
    // program: a wait cursor first, then text in a box whose キャンセル
    // gives up. True when busy() ended, false when the user gave up.
    virtual bool WaitWhile(const std::string& text, const std::function<bool()>& busy) = 0;
};

// The message boxes of the program, with the captions their kind carries.
// Each beeps first when asked to.
Answer Ask(Prompts& prompts, const std::string& question, Buttons buttons, bool beep);  // warning
// A question with a check box (see MessageWithCheck).
Answer Ask(Prompts& prompts, const std::string& question, Buttons buttons, bool beep, const std::string& check,
           bool& checked);
void ShowError(Prompts& prompts, const std::string& text, bool beep);                    // error, OK
void ShowPlain(Prompts& prompts, const std::string& text, bool beep);                    // no icon, OK

} // namespace kiv
