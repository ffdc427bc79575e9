// SPDX-License-Identifier: GPL-3.0-or-later
#include "Prompts.h"

namespace kiv {

Answer Ask(Prompts& prompts, const std::string& question, Buttons buttons, bool beep)
{
    if (beep)
        prompts.Beep();
    return prompts.Message(Icon::Warning, "警告", question, buttons);
}

Answer Ask(Prompts& prompts, const std::string& question, Buttons buttons, bool beep, const std::string& check,
           bool& checked)
{
    if (beep)
        prompts.Beep();
    return prompts.MessageWithCheck(Icon::Warning, "警告", question, buttons, check, checked);
}

void ShowError(Prompts& prompts, const std::string& text, bool beep)
{
    if (beep)
        prompts.Beep();
    prompts.Message(Icon::Error, "エラー", text, Buttons::Ok);
}

void ShowPlain(Prompts& prompts, const std::string& text, bool beep)
{
    if (beep)
        prompts.Beep();
    prompts.Message(Icon::None, kAppTitle, text, Buttons::Ok);
}

} // namespace kiv
