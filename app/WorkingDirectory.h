// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace kiv {

// The folder that holds the day files: the registry value "InstDir" of the
// key "KIV_FILE", used unchanged (an empty value gives an empty text).
// Without the key: on Windows the current directory; elsewhere a folder of
// the user's own, so that emptying it never touches the files of whatever
// folder the program was started from.
std::string FindWorkingDirectory();

// $XDG_STATE_HOME/kiv/work (default ~/.local/state/kiv/work), created
// private when missing and made private when found otherwise.
std::string FallbackWorkingDirectory();

// The working directory to use: FindWorkingDirectory's, unless others may
// look into it (a folder with group or world access, day files in plain
// text): then refused with the message in refusal, and the program's own
// folder is used instead.
std::string PrivateWorkingDirectory(std::string& refusal);

// Whom the day files of a working directory belong to: the book they were
// written for and whether they go into it encrypted. Kept in the folder
// beside them, so that they reach their own book even after the program
// that wrote them has ended.
struct DayFileOwner {
    std::string book; // an absolute path
    bool encrypt = false;
};

// The name under which day files of the book are owned: its absolute path.
std::string OwnerName(const std::string& book);

// The owner recorded in folder; none when nothing is recorded.
std::optional<DayFileOwner> ReadOwner(const std::string& folder);
// Records the owner, replacing the record as a whole.
void WriteOwner(const std::string& folder, const DayFileOwner& owner);

// The working directory of one running copy of the program. An advisory
// lock on the folder, held until this object goes, keeps other copies out:
// when one holds the first folder, the first free one beside it ("-2",
// "-3", … appended) is taken, created private when missing. When no folder
// can be locked (the first does not exist, say), the first is used as it is.
class WorkingDirectoryClaim {
public:
    explicit WorkingDirectoryClaim(std::string first);
    ~WorkingDirectoryClaim();
    WorkingDirectoryClaim(const WorkingDirectoryClaim&) = delete;
    WorkingDirectoryClaim& operator=(const WorkingDirectoryClaim&) = delete;

    const std::string& Path() const { return path_; }

    // Moves the day files of this folder, with their owner, into a free
    // folder beside it, where they wait for their own book.
    void SetDayFilesAside() const;
    // Moves into this folder the day files waiting beside it for the book
    // (those of one encryption choice, and only names not present here);
    // the choice when any came, else none.
    std::optional<bool> TakeWaitingDayFiles(const std::string& ownerName) const;

private:
    const std::string first_;
    std::string path_;
    int handle_ = -1;
};

} // namespace kiv
