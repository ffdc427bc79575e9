// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConsolePassword.h"
#include "Language.h"

#include "ConsolePrompts.h"
#include "Cp932.h"
#include "Error.h"
#include "Files.h"

#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace kiv::kivbook {
namespace {

// The first line of a text, without its line break.
std::string FirstLine(std::string text)
{
    std::size_t lineFeed = text.find('\n');
    if (lineFeed != std::string::npos)
        text.erase(lineFeed);
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

// Turns the terminal's echo off while it lives.
class EchoOff {
public:
    EchoOff()
    {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (active_)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_ {};
    bool active_ = false;
};

// Reads one line from the terminal; nothing when reading fails or a signal
// arrives.
std::optional<std::string> ReadTerminalLine(const std::string& prompt)
{
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    EchoOff echoOff;
    std::string line;
    char c;
    while (true) {
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n == 1) {
            if (c == '\n')
                return line;
            line += c;
        } else if (n == 0) {
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        } else {
            return std::nullopt; // an error, or EINTR from Ctrl-C
        }
    }
}

} // namespace

ConsolePassword::ConsolePassword(ConsolePrompts& prompts, std::string passwordFile, std::string book, Purpose purpose)
    : prompts_(prompts)
    , passwordFile_(std::move(passwordFile))
    , book_(std::move(book))
    , purpose_(purpose)
{
}

bool ConsolePassword::AskPassword(std::string& password)
{
    // Called from inside the archive libraries: nothing may escape.
    try {
        if (!password_ && !failed_) {
            password_ = Obtain();
            failed_ = !password_;
        }
    } catch (...) {
        failed_ = true;
        password_.reset();
    }
    if (!password_)
        return false;
    password = *password_;
    return true;
}

std::optional<std::string> ConsolePassword::Obtain()
{
    std::optional<std::string> utf8 = passwordFile_.empty() ? FromTerminal() : FromFile();
    if (!utf8)
        return std::nullopt;
    if (utf8->empty()) {
        prompts_.Print(_("the password is empty"));
        return std::nullopt;
    }
    // The archive libraries take the password as a C string: they would cut
    // it at the NUL and use another password than the one given.
    if (utf8->find('\0') != std::string::npos) {
        prompts_.Print(_("the password holds a NUL byte"));
        return std::nullopt;
    }
    std::string cp932;
    try {
        cp932 = Cp932FromUtf8(*utf8);
    } catch (const Error& error) {
        prompts_.Print(Fill(_("password: %s"), { ProgramText(error.what()) }));
        return std::nullopt;
    }
    // The archive libraries would cut a longer one: the day would be
    // encrypted with another password than the one given.
    if (cp932.size() > archive::kMaxPasswordBytes) {
        prompts_.Print(Fill(_("the password is longer than %s bytes (in code page 932, where a Japanese character "
                                "takes two)"),
            { std::to_string(archive::kMaxPasswordBytes) }));
        return std::nullopt;
    }
    return cp932;
}

std::optional<std::string> ConsolePassword::FromFile()
{
    if (passwordFile_ == "-") {
        std::string line;
        if (!std::getline(std::cin, line)) {
            prompts_.Print(_("no password on standard input"));
            return std::nullopt;
        }
        return FirstLine(line);
    }
    try {
        std::vector<std::uint8_t> bytes = ReadWholeFile(passwordFile_);
        return FirstLine(std::string(bytes.begin(), bytes.end()));
    } catch (const Error& error) {
        prompts_.Print(error.what());
        return std::nullopt;
    }
}

std::optional<std::string> ConsolePassword::FromTerminal()
{
    if (!isatty(STDIN_FILENO)) {
        prompts_.Print(purpose_ == Purpose::Encrypt
                ? _("a password is needed to encrypt the day: give it with --password-file FILE")
                : Fill(_("%s holds encrypted days: give the password with --password-file FILE"), { book_ }));
        return std::nullopt;
    }
    if (purpose_ == Purpose::Read)
        return ReadTerminalLine(Fill(_("Password for %s: "), { book_ }));
    std::optional<std::string> first = ReadTerminalLine(_("Password to encrypt the day: "));
    if (!first)
        return std::nullopt;
    std::optional<std::string> second = ReadTerminalLine(_("The same password again: "));
    if (!second)
        return std::nullopt;
    if (*first != *second) {
        prompts_.Print(_("the two passwords differ"));
        return std::nullopt;
    }
    return first;
}

} // namespace kiv::kivbook
