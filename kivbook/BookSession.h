// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArchiveHost.h"
#include "ConsolePassword.h"
#include "TDayBook.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::kivbook {

class ConsolePrompts;

// A problem with the book or the day: exit status 1, the text on standard
// error.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& text)
        : std::runtime_error(text)
    {
    }
};

struct SessionSettings {
    std::string book; // as the user wrote it
    std::string passwordFile; // empty: ask on the terminal
    ConsolePassword::Purpose purpose = ConsolePassword::Purpose::Read;
    bool encrypt = false; // the program's password check box
    archive::EncryptionMethod encryption = archive::EncryptionMethod::Traditional;
    bool verbose = false; // show the Zip library's output
    std::string workingDirectory; // empty: the system's temporary folder
};

// One command's use of the archive layer: sets the layer's host (console
// prompts, the console password, the working directory, the password check
// box) and, when it ends, closes a book handle left open and clears the host.
class BookSession {
public:
    BookSession(ConsolePrompts& prompts, SessionSettings settings);
    ~BookSession();
    BookSession(const BookSession&) = delete;
    BookSession& operator=(const BookSession&) = delete;

    // The book's path as the archive layer gets it (absolute), and as the
    // user wrote it (for messages).
    const std::string& Book() const { return book_; }
    const std::string& ShownBook() const { return settings_.book; }

    ConsolePrompts& Prompts() { return prompts_; }
    ConsolePassword& Password() { return password_; }

    // Prints what the Zip library said during a run that failed.
    void ExplainZipFailure();

    // Fails unless the book file exists.
    void RequireBook() const;

    // The member names of the book's days, ascending (ListDays). Fails when
    // the archive layer reported a problem with the book.
    std::vector<std::string> Members();

    struct Member {
        std::string name; // as stored (the find record holds 512 bytes of it)
        // Why no command reads it as a day though its name might say so (a
        // name with a folder part or too long, a link, a name that an
        // earlier member has); empty for the others.
        std::string_view oddity;
    };
    // Every member of the book, days or not, in the book's order. Fails
    // when the archive layer reported a problem with the book.
    std::vector<Member> AllMembers();

    // Prints "skipped NAME: why" for each odd member of the book; returns
    // how many there are.
    int ReportOddMembers();

    // Fails unless the book holds the member (BookHasDay).
    void RequireDay(const std::string& member, const std::string& shownDate);

    struct Reading {
        bool ok = false;
        bool extractFailed = false; // else the day file did not read
        std::vector<std::string> messages; // why not, one message a line
    };
    // Extracts the member and reads it into record, as the search does for
    // every day; the messages of a failure are returned, not printed. A
    // member in a method this build cannot read is named with its method.
    Reading ReadDay(const std::string& member, TDayBook& record);

    // Why a member that did not extract may not have: its method when this
    // build cannot read it, else a general reason.
    std::string WhyUnreadable(const std::string& member);

private:
    class ZipOutput;

    ConsolePrompts& prompts_;
    SessionSettings settings_;
    std::string book_;
    ConsolePassword password_;
    std::unique_ptr<ZipOutput> output_;
};

} // namespace kiv::kivbook
