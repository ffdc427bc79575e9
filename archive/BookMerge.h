// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Bringing the days of another copy of a book into the book, losing
// nothing: a day only the other copy holds arrives as it is there, a day
// both hold the same way stays, and a day they hold differently is joined
// (JoinDays: the newer version by the member's time, with what the older
// has that the newer lacks). Encrypted days are read with the host's
// password and written back encrypted. The other copy is only read.
namespace kiv {
class TDayBook;
}

namespace kiv::archive {

// One day member as a book stores it.
struct StoredDay {
    std::vector<std::uint8_t> bytes; // the day file
    std::time_t time = 0;            // the member's time
    bool encrypted = false;
    bool aes = false; // encrypted with AES
};

// The days of book: member name by CaseKey, with its time and encryption;
// bytes are not read. Members with a trouble are passed over. Fails with
// kiv::Error when the book cannot be listed (the layer has reported why).
std::map<std::string, std::pair<std::string, StoredDay>> StoredDays(const std::string& book);

// The day file bytes of the member of book, into day.bytes. Fails with
// kiv::Error when it does not extract (the layer has reported why).
void ReadStoredDay(const std::string& book, const std::string& member, StoredDay& day);

// The member of book named like dayFilePath with its bytes; nullopt when
// the book holds no such day. Fails as ReadStoredDay does.
std::optional<StoredDay> FindStoredDay(const std::string& book, const std::string& dayFilePath);

// The day record a day file holds. Fails with kiv::Error when it does not read.
TDayBook DayOfBytes(const std::vector<std::uint8_t>& bytes);

struct MergedDay {
    enum class Change { Added, Extended, Kept };
    std::string member;
    Change change = Change::Kept;
    std::string pictureAside; // where the older picture was (or would be) written; empty: none
};

struct MergeResult {
    std::vector<MergedDay> days; // added, extended and kept days, in member order
    int same = 0;                // days the two copies hold the same way
    bool written = false;        // the book was written (false with nothing to write, or a dry run)
};

// Joins other's days into book. The changed days go in with one Zip run per
// encryption (one run for a book that is all plain or all encrypted), under
// the book's lock, keeping the book before as BOOK~. The day files pass
// through a private folder made in scratchParent and removed again. The
// older of two differing pictures is written beside the book as
// NAME-yyyymmdd.jpg (or .bmp), never over another file. dryRun reads and
// decides, and writes nothing. Fails with kiv::Error when a day does not
// read, or when the write failed (reported; the book is then unchanged).
MergeResult MergeBooks(const std::string& book, const std::string& other, const std::string& scratchParent,
                       bool dryRun);

// The day one copy holds, joined with what another copy holds for the same
// date: the day file to write, or nullopt when mine holds everything of
// theirs. mine is the newer version when its time is not older.
struct DayJoinOutcome {
    std::optional<std::vector<std::uint8_t>> bytes; // to write, when the day changes
    std::time_t time = 0;           // the member time the written day keeps (0: now)
    bool extended = false;          // some of the older version's texts were added
    std::vector<std::uint8_t> olderPicture; // the older picture to keep beside, when it differs
    std::int32_t olderPictureKind = 0;
};
DayJoinOutcome JoinStoredDays(const StoredDay& mine, const StoredDay& theirs);

// Keeps the older picture of the day of member beside book: NAME-
// yyyymmdd.jpg (.bmp for a bitmap), NAME-yyyymmdd-2.jpg ... when that holds
// another picture. Returns the path written (with dryRun: to be written),
// or empty when a file there holds these bytes already. Fails with
// kiv::Error when it cannot be written.
std::string KeepPictureAside(const std::string& book, const std::string& member, std::int32_t kind,
                             const std::vector<std::uint8_t>& bytes, bool dryRun);

} // namespace kiv::archive
