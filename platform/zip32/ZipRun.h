// SPDX-License-Identifier: GPL-3.0-or-later
// What one ZpArchive run shares between its parts: the settings taken from
// ZipOptions, the output, and the atomic file replacement.
#pragma once

#include "Files.h"
#include "zip32.h"
#include "ZipFormat.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kivzip {

// ZipOptions with its texts copied, read once per run.
struct RunSettings {
    std::string date;
    std::string rootDir;
    int level = 6;               // 0 stores
    bool encrypt = false;
    int encryption = ZIP32_ENCRYPT_TRADITIONAL; // the method when encrypting
    bool noDirEntries = false;
    bool excludeFromDate = false; // -tt
    bool includeFromDate = false; // -t
    bool verbose = false;
    bool quiet = false;
    bool crlfToLf = false;
    bool lfToCrlf = false;
    bool junkDirs = false;
    bool grow = false;
    bool forceDosNames = false;
    bool move = false;
    bool deleteEntries = false;
    bool update = false;
    bool freshen = false;
    bool junkPrefix = false;
    bool latestTime = false;
    bool comment = false;
    bool adjustOffsets = false;
    int recurse = 0;
    int repair = 0;
    bool createEmpty = false;
    bool sealed = false; // sealed files go in as the member they hold

    static RunSettings From(const ZipOptions& options);
};

// Output lines through the print callback: one call per line, each ending
// with a line feed; nothing when the run is quiet.
// A repair's notes go to the repair callback when there is one, else they
// are printed as their line.
class Reporter {
public:
    Reporter(ZipPrintFn print, bool quiet, ZipRepairFn notes = nullptr) : print_(print), notes_(notes), quiet_(quiet) {}
    void Line(const std::string& text) const;
    void Warning(const std::string& text) const { Line("zip warning: " + text); }
    void Error(const std::string& text) const { Line("zip error: " + text); }
    void Note(const ZipRepairNote& note, const std::string& line) const;

private:
    ZipPrintFn print_;
    ZipRepairFn notes_;
    bool quiet_;
};

// Writes a new version of the book through write (to the descriptor of a
// temporary file beside it) and puts it in the book's place, flushed to the
// disk, with the old book's owner, group and mode. The book it replaces
// stays beside it as "BOOK~" (one generation, a hard link) unless the run's
// options say fNoPreviousBook; a failure there is only a warning. false with
// error when the book was not replaced: it is then unchanged. With readAs, a
// book that is no longer the one read is not replaced either, and changed is
// set: the caller reads it again.
bool ReplaceBook(const std::string& book, const std::function<bool(int, std::string&)>& write, const Reporter& out,
                 std::string& error, const kiv::FileIdentity* readAs = nullptr, bool* changed = nullptr);

// The writers read a book this often at most while other programs, which
// do not take the book's lock, keep changing it.
inline constexpr int kMostReads = 5;

// Records why the run leaves the book as it was (ZIP32_CAUSE_...).
void NoteCause(int cause, const std::string& subject);

// Reads a whole file; false (with errno set) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes);

// Percentage saved from size to stored, as the zip tool reports it.
int SavedPercent(std::uint64_t size, std::uint64_t stored);

// Repairs the book at path (level 1 for -F, 2 for -FF). Returns a ZpArchive
// result code.
int RepairBook(const std::string& path, int level, const Reporter& out);

} // namespace kivzip
