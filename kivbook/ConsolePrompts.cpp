// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConsolePrompts.h"
#include "Language.h"

#include "Cp932.h"
#include "TextForms.h"

#include <ostream>

namespace kiv::kivbook {
namespace {

const char* AnswerText(Answer answer)
{
    switch (answer) {
    case Answer::Ok:
        return "OK";
    case Answer::Yes:
        return "はい";
    case Answer::No:
        return "いいえ";
    case Answer::Cancel:
        return "キャンセル";
    }
    return "";
}

} // namespace

Answer ConsolePrompts::Message(Icon icon, const std::string&, const std::string& text, Buttons buttons)
{
    if (icon == Icon::Error) {
        ++errorCount_;
        lastError_ = text;
    }
    Answer answer = Answer::Ok;
    std::string shown = LfFromCrLf(ProgramText(text));
    if (buttons != Buttons::Ok) {
        answer = answer_.value_or(buttons == Buttons::YesNo ? Answer::No : Answer::Cancel);
        shown += " [" + ProgramText(AnswerText(answer)) + "]";
    }
    if (capturing_)
        captured_.push_back(shown);
    else
        Print(shown);
    return answer;
}

void ConsolePrompts::StartCapture()
{
    capturing_ = true;
    captured_.clear();
}

std::vector<std::string> ConsolePrompts::EndCapture()
{
    capturing_ = false;
    return std::move(captured_);
}

void ConsolePrompts::Print(const std::string& text)
{
    // A message of several lines keeps the prefix on each of them; control
    // characters (from a member's name, say) reach the terminal escaped.
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find('\n', start);
        err_ << "kivbook: "
             << Printable(
                    std::string_view(text).substr(start, end == std::string::npos ? std::string::npos : end - start),
                    false)
             << '\n';
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    err_.flush();
}

} // namespace kiv::kivbook
