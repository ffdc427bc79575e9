// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArchiveHost.h"

#include <optional>
#include <string>

namespace kiv::kivbook {

class ConsolePrompts;

// The password of encrypted days on a console. It comes from a file (its
// first line; "-" reads standard input), else from the terminal with echo
// off; with neither, asking fails with a message that says how to give it.
// The password is obtained once and given at every request: the UnZip
// library tries it on each encrypted member, the Zip library encrypts and
// verifies with it.
class ConsolePassword final : public archive::PasswordSource {
public:
    enum class Purpose { Read, Encrypt };

    // passwordFile: empty when none was given.
    ConsolePassword(ConsolePrompts& prompts, std::string passwordFile, std::string book, Purpose purpose);

    bool AskPassword(std::string& password) override;

    // True once a password has been handed out.
    bool Given() const { return password_.has_value(); }

private:
    std::optional<std::string> Obtain();
    std::optional<std::string> FromFile();
    std::optional<std::string> FromTerminal();

    ConsolePrompts& prompts_;
    std::string passwordFile_;
    std::string book_;
    Purpose purpose_;
    std::optional<std::string> password_; // code page 932
    bool failed_ = false;
};

} // namespace kiv::kivbook
