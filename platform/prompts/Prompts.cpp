#include "Prompts.h"

namespace kiv {

Answer Ask(Prompts& prompts, const std::string& question, Buttons buttons, bool beep)
{
    if (beep)
        prompts.Beep();
    return prompts.Message(Icon::Warning, "警告", question, buttons);
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
