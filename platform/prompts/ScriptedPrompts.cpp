// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScriptedPrompts.h"

#include <chrono>
#include <thread>

namespace kiv {

std::vector<ScriptedPrompts::Shown> ScriptedPrompts::messages() const
{
    std::vector<Shown> result;
    for (const Shown& shown : shown_)
        if (shown.kind == Kind::Message)
            result.push_back(shown);
    return result;
}

ScriptedPrompts::Reply ScriptedPrompts::Next(Reply fallback)
{
    if (replies_.empty())
        return fallback;
    Reply reply = std::move(replies_.front());
    replies_.pop_front();
    return reply;
}

void ScriptedPrompts::Beep()
{
    shown_.push_back({Kind::Beep, Icon::None, {}, {}, Buttons::Ok, {}, false, {}});
}

Answer ScriptedPrompts::Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons)
{
    bool beepBefore = !shown_.empty() && shown_.back().kind == Kind::Beep;
    shown_.push_back({Kind::Message, icon, caption, text, buttons, {}, beepBefore, {}});
    Answer fallback = buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::YesNoCancel ? Answer::Cancel : Answer::No;
    return Next({fallback, {}, {}, false, {}, false}).answer;
}

Answer ScriptedPrompts::MessageWithCheck(Icon icon, const std::string& caption, const std::string& text,
                                         Buttons buttons, const std::string& check, bool& checked)
{
    const bool wasQueued = !replies_.empty();
    const bool checkedQueued = wasQueued && replies_.front().checked;
    const Answer answer = Message(icon, caption, text, buttons);
    shown_.back().check = check;
    if (wasQueued)
        checked = checkedQueued;
    return answer;
}

bool ScriptedPrompts::File(Kind kind, FileDialog& dialog)
{
    shown_.push_back({kind, Icon::None, {}, {}, Buttons::Ok, dialog, false, {}});
    Reply reply = Next({Answer::Cancel, {}, {}, false, {}, false});
    if (reply.fileName.empty())
        return false;
    dialog.fileName = reply.fileName;
    return true;
}

bool ScriptedPrompts::OpenFile(FileDialog& dialog) { return File(Kind::OpenFile, dialog); }

bool ScriptedPrompts::SaveFile(FileDialog& dialog) { return File(Kind::SaveFile, dialog); }

bool ScriptedPrompts::RunModal(QDialog& dialog)
{
    shown_.push_back({Kind::Modal, Icon::None, {}, {}, Buttons::Ok, {}, false, {}});
    Reply reply = Next({Answer::Cancel, {}, {}, false, {}, false});
    if (reply.fill)
        reply.fill(dialog);
    return reply.answer == Answer::Ok;
}

bool ScriptedPrompts::WaitWhile(const std::string& text, const std::function<bool()>& busy)
{
    shown_.push_back({Kind::Wait, Icon::None, {}, text, Buttons::Ok, {}, false, {}});
    const bool own = !replies_.empty() && replies_.front().wait;
    const Reply reply = own ? Next({}) : Reply {};
    if (reply.answer != Answer::Ok)
        return false;
    if (reply.meanwhile)
        reply.meanwhile();
    for (int tries = 0; tries < 1000; ++tries) {
        if (!busy())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace kiv
