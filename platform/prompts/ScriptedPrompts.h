// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Prompts.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

// Prompts for tests: records every prompt and answers from a queue.
// An empty queue answers a question with its last button (No / Cancel),
// a file dialog with cancel and a modal dialog with Cancel, so a test that
// forgot an answer fails on what was shown rather than hanging.
class ScriptedPrompts : public Prompts {
public:
    enum class Kind { Beep, Message, OpenFile, SaveFile, Modal, Wait };

    struct Shown {
        Kind kind;
        Icon icon = Icon::None;
        std::string caption;
        std::string text;
        Buttons buttons = Buttons::Ok;
        FileDialog dialog; // file dialogs: the state as shown
        bool beepBefore = false; // messages: a beep came right before
        std::string check; // messages with a check box: its label
    };

    struct Reply {
        Answer answer = Answer::Ok;      // messages; Ok / Cancel for modal dialogs
        std::string fileName;            // file dialogs: empty means cancel
        std::function<void(QDialog&)> fill; // modal dialogs: fills the dialog before it ends
        bool checked = false; // messages with a check box: its state when answered
        std::function<void()> meanwhile;    // waits: what happens while the box is up
        bool wait = false;                  // queued by QueueWait
    };

    void Queue(Answer answer) { replies_.push_back({answer, {}, {}, false, {}, false}); }
    // An answer to a message with a check box, the box left as checked says.
    void QueueChecked(Answer answer, bool checked) { replies_.push_back({answer, {}, {}, checked, {}, false}); }
    void QueueFile(const std::string& fileName) { replies_.push_back({Answer::Ok, fileName, {}, false, {}, false}); }
    void QueueModal(Answer answer, std::function<void(QDialog&)> fill = {})
    {
        replies_.push_back({answer, {}, std::move(fill), false, {}, false});
    }

    // A wait: Ok waits (up to ten seconds) after doing meanwhile, Cancel
    // gives up at once. A wait finds no reply of its own first in the queue
    // waits, as the program's box does by itself, and leaves the queue as it
    // is.
    void QueueWait(Answer answer, std::function<void()> meanwhile = {})
    {
        replies_.push_back({answer, {}, {}, false, std::move(meanwhile), true});
    }

    const std::vector<Shown>& shown() const { return shown_; }
    // Messages only, in order (beeps left out).
    std::vector<Shown> messages() const;
    std::size_t pendingReplies() const { return replies_.size(); }
    void clear() { shown_.clear(); replies_.clear(); }

    void Beep() override;
    Answer Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons) override;
    bool OpenFile(FileDialog& dialog) override;
    bool SaveFile(FileDialog& dialog) override;
    bool RunModal(QDialog& dialog) override;
    Answer MessageWithCheck(Icon icon, const std::string& caption, const std::string& text, Buttons buttons,
                            const std::string& check, bool& checked) override;
    bool WaitWhile(const std::string& text, const std::function<bool()>& busy) override;

private:
    bool File(Kind kind, FileDialog& dialog);
    Reply Next(Reply fallback);

    std::vector<Shown> shown_;
    std::deque<Reply> replies_;
};

} // namespace kiv
