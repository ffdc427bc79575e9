// SPDX-License-Identifier: GPL-3.0-or-later
// Repair of damaged books (-F, -FF).
//
// The book is read into memory and rebuilt member by member: -F takes the
// members that its central directory lists, -FF also every local header found
// by scanning the whole file, which recovers books whose central directory is
// gone or damaged and books with bytes before, inside or after the archive.
// A member's data are checked against its CRC (inflated, or stored) as the
// directory records them and, when that fails, as its local header does: the
// record that fits the data wins, so one damaged record loses no day. A
// member written to a pipe (CRC and compressed size 0, a data descriptor
// after the data) ends where its deflate stream ends, or at the descriptor
// whose size is the distance to it. Encrypted members and methods zlib cannot
// read are carried over unchanged; without the password their data cannot be
// checked, so the directory's record is taken when it ends where the next
// record begins. Where the local header gives another CRC or size for the
// same bytes, the book is left as it is: a reader with the password finds
// the record that fits, and one CRC written into both could lose the day.
// Data that fit no record are kept as they
// are and named as damaged; only what cannot be found is dropped. The new
// book is written with fresh central directory records and replaces the old
// one atomically; a book that needs no repair is left untouched.
#include "ZipImage.h"
#include "ZipRun.h"

#include <zip.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace kivzip {

namespace {

constexpr off_t kLargestBook = 0x7FFFFFFF; // no Zip64 here

// A directory record as the repair uses it: its texts stay views into the
// book's bytes, which outlive the repair.
struct CentralEntry {
    CentralRecord record;
    std::vector<unsigned char> extra; // without its Zip64 block
    std::uint64_t localOffset = 0;    // position in the file as it is
};

struct CentralDirectory {
    bool found = false;
    std::uint64_t at = 0; // where its first record begins
    std::vector<CentralEntry> entries;
    std::vector<unsigned char> comment;
};

// What a record says of a member's data.
struct Claim {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    bool zip64 = false; // sizes came from Zip64 fields
};

// A local header as found at a place in the book; its fields may be damaged.
struct FoundHeader {
    bool signature = false; // the place holds a local header's signature
    std::uint16_t versionNeeded = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    Claim claim;
    std::string name;
    std::vector<unsigned char> extra; // without its Zip64 block
    std::uint64_t dataAt = 0;         // where the header says its data begin
};

// Why a member was dropped or kept damaged.
enum class Why : std::int32_t {
    None = 0,
    HeaderMissing = ZIP32_REPAIR_HEADER_MISSING,
    DataCutOff = ZIP32_REPAIR_DATA_CUT_OFF,
    EndNotFound = ZIP32_REPAIR_END_NOT_FOUND,
    NoCrc = ZIP32_REPAIR_NO_CRC,
    TooLarge = ZIP32_REPAIR_TOO_LARGE,
    Overlaps = ZIP32_REPAIR_OVERLAPS,
    EarlierCopy = ZIP32_REPAIR_EARLIER_COPY,
    DataDoNotInflate = ZIP32_REPAIR_DO_NOT_INFLATE,
    CrcMismatch = ZIP32_REPAIR_CRC_MISMATCH,
};

const char* WhyText(Why why)
{
    switch (why) {
    case Why::None: break;
    case Why::HeaderMissing: return "local header missing or damaged";
    case Why::DataCutOff: return "data cut off";
    case Why::EndNotFound: return "end of data not found";
    case Why::NoCrc: return "no CRC recorded for its data";
    case Why::TooLarge: return "4 GiB or larger";
    case Why::Overlaps: return "overlaps another member";
    case Why::EarlierCopy: return "an earlier copy";
    case Why::DataDoNotInflate: return "data do not inflate";
    case Why::CrcMismatch: return "CRC mismatch";
    }
    return "";
}

struct Member {
    std::uint64_t headerAt = 0;
    std::uint64_t dataAt = 0;
    std::uint64_t end = 0; // after the data and its descriptor
    std::uint16_t versionNeeded = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    Claim claim;
    std::string name;
    std::vector<unsigned char> localExtra;
    const CentralEntry* central = nullptr;
    bool verified = false;     // the data check out against a recorded CRC
    Why damage = Why::None;    // why the data do not check out
    std::string otherName;     // the name the other record gives, when they differ
    bool renamed = false;      // the local header's name was taken over the directory's
    bool corrected = false;    // the directory's record did not fit the data
    // Data that cannot be checked (encrypted) for which the local header
    // gives another CRC or size than the directory: neither can be
    // preferred without the password.
    bool undecided = false;
};

bool PlausibleName(const std::string& name)
{
    if (name.empty() || name.size() > 1024)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\0'; });
}

// The extra blocks whose id keep accepts, in their order.
template <typename Keep>
std::vector<unsigned char> ExtraBlocks(std::string_view extra, Keep keep)
{
    std::vector<unsigned char> out;
    ForEachExtra(extra, [&](std::uint16_t id, std::string_view value) {
        if (keep(id)) {
            Put16(out, id);
            Put16(out, static_cast<std::uint32_t>(value.size()));
            out.insert(out.end(), value.begin(), value.end());
        }
        return true;
    });
    return out;
}

// The extra blocks without the Zip64 one: the rebuilt book records every
// size in the ordinary fields.
std::vector<unsigned char> WithoutZip64(std::string_view extra)
{
    return ExtraBlocks(extra, [](std::uint16_t id) { return id != kZip64Extra; });
}

// The extra blocks of a local header that readers look for in the central
// directory too: an AES member's method and strength.
std::vector<unsigned char> CentralBlocksOf(const std::vector<unsigned char>& localExtra)
{
    return ExtraBlocks(Bytes(localExtra), [](std::uint16_t id) { return id == kAesExtra; });
}

class Repairer {
public:
    Repairer(const std::vector<unsigned char>& bytes, const Reporter& out)
        : b_(bytes), out_(out), directoryAt_(bytes.size())
    {
    }

    CentralDirectory ReadCentralDirectory() const
    {
        CentralDirectory dir;
        EndOfDirectory end;
        std::uint64_t start = 0, stop = 0;
        std::int64_t shift = 0;
        if (FindEndOfDirectory(source_, end) == FormatError::None) {
            start = end.directoryAt;
            stop = end.directoryEnd;
            shift = end.shift;
            dir.comment.assign(b_.begin() + static_cast<long>(end.commentAt),
                               b_.begin() + static_cast<long>(end.commentAt + end.commentLength));
        } else if (!FindDirectoryRecords(start, stop)) {
            return dir;
        }
        dir.found = true;
        dir.at = start;
        dir.entries = ParseEntries(start, stop, shift);
        return dir;
    }

    // Rebuilds the member list. Returns false when nothing can be recovered.
    bool Recover(int level, std::vector<Member>& kept, int& dropped)
    {
        dir_ = ReadCentralDirectory();
        if (dir_.found)
            directoryAt_ = dir_.at;
        std::vector<std::uint64_t> scanned; // every local header, in order
        if (level >= 2)
            scanned = LocalHeaders();
        std::set<std::uint64_t> used;

        // The directory's members first: each where its record says, else
        // (bytes inserted before it, its offset damaged) at a local header
        // of its name.
        std::unordered_map<std::string, std::vector<std::uint64_t>> byName;
        for (const std::uint64_t at : scanned) {
            kivzip::LocalHeader l;
            if (ReadLocalHeader(&b_[at], b_.size() - at, l))
                byName[std::string(l.name)].push_back(at);
        }
        for (std::size_t i = 0; i < dir_.entries.size(); ++i) {
            const CentralEntry& e = dir_.entries[i];
            Why why = Why::HeaderMissing;
            // A place whose data do not check out is kept as damaged only
            // when no other place of the member's does.
            std::optional<Member> found, damaged;
            auto consider = [&](std::uint64_t at) {
                if (found || used.count(at))
                    return;
                Member m;
                const Why failed = Evaluate(at, &e, m);
                if (at == e.localOffset)
                    why = failed;
                if (failed == Why::None && m.damage == Why::None)
                    found = std::move(m);
                else if (failed == Why::None && !damaged)
                    damaged = std::move(m);
            };
            consider(e.localOffset);
            const auto named = byName.find(std::string(e.record.name));
            if (named != byName.end())
                for (const std::uint64_t at : named->second)
                    if (at != e.localOffset)
                        consider(at);
            if (!found)
                found = std::move(damaged);
            if (!found) {
                Drop(std::string(e.record.name), why, dropped);
                continue;
            }
            ChooseName(i, *found);
            used.insert(found->headerAt);
            kept.push_back(std::move(*found));
        }

        // Then every local header that no kept member covers: where the
        // directory's members lie, and up to the end of the last one found
        // here.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
        for (const Member& m : kept)
            spans.emplace_back(m.headerAt, m.end);
        std::sort(spans.begin(), spans.end());
        for (std::size_t k = 1; k < spans.size(); ++k)
            spans[k].second = std::max(spans[k].second, spans[k - 1].second); // the furthest end so far
        auto listedOver = [&](std::uint64_t at) {
            const auto after = std::upper_bound(spans.begin(), spans.end(), std::make_pair(at, kNowhere));
            return after != spans.begin() && at < std::prev(after)->second;
        };
        std::uint64_t coveredUntil = 0;
        for (std::size_t k = 0; k < scanned.size(); ++k) {
            const std::uint64_t at = scanned[k];
            if (at < coveredUntil || listedOver(at) || used.count(at))
                continue;
            Member m;
            const Why failed = Evaluate(at, nullptr, m);
            if (failed != Why::None) {
                if (PlausibleName(m.name))
                    Drop(m.name, failed, dropped);
                continue;
            }
            // A damaged member whose recorded size reaches over the start of
            // another one is not what it claims.
            if (!m.verified && k + 1 < scanned.size() && scanned[k + 1] < m.end) {
                Drop(m.name, Why::Overlaps, dropped);
                continue;
            }
            used.insert(at);
            coveredUntil = std::max(coveredUntil, m.end);
            kept.push_back(std::move(m));
        }
        std::sort(kept.begin(), kept.end(), [](const Member& a, const Member& b) { return a.headerAt < b.headerAt; });

        // A name stored twice keeps its last copy, as a later update would,
        // unless only an earlier one checks out.
        std::unordered_map<std::string, std::size_t> keep;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            auto [it, first] = keep.emplace(kept[i].name, i);
            if (!first && (kept[i].verified || !kept[it->second].verified))
                it->second = i;
        }
        std::vector<Member> unique;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (keep[kept[i].name] == i)
                unique.push_back(std::move(kept[i]));
            else
                Drop(kept[i].name, Why::EarlierCopy, dropped);
        }
        kept = std::move(unique);
        NameLost(kept, dropped);
        for (const Member& m : kept) {
            if (m.renamed)
                out_.Note({ZIP32_REPAIR_RENAMED, 0, m.name.c_str(), m.otherName.c_str(), 0, 0, 0},
                          "zip warning: " + m.name + " was named " + m.otherName +
                              " in the central directory; its local header's name is kept");
            else if (!m.otherName.empty())
                out_.Note({ZIP32_REPAIR_NAMES_DIFFER, 0, m.name.c_str(), m.otherName.c_str(), 0, 0, 0},
                          "zip warning: " + m.name + " is named " + m.otherName +
                              " in its local header; the central directory's name is kept");
            if (m.corrected)
                out_.Note({ZIP32_REPAIR_CORRECTED, 0, m.name.c_str(), nullptr, 0, 0, 0},
                          "zip warning: the central directory's record of " + m.name +
                              " did not match its data; its local header's is kept");
            if (m.damage != Why::None)
                out_.Note({ZIP32_REPAIR_DAMAGED, static_cast<std::int32_t>(m.damage), m.name.c_str(), nullptr, 0, 0, 0},
                          "zip warning: kept " + m.name + " though its data are damaged (" + WhyText(m.damage) + ")");
        }
        return !kept.empty() || dir_.found;
    }

    // The new archive for the members.
    bool Build(const std::vector<Member>& members, std::vector<unsigned char>& out, std::string& why) const
    {
        if (members.size() > 0xFFFF) {
            why = "too many members for a ZIP file without Zip64";
            return false;
        }
        // Writing one CRC into both records could lose a day that reads now.
        for (const Member& m : members)
            if (m.undecided) {
                why = m.name + " is encrypted, and its directory record and local header give it different CRCs "
                               "or sizes: without the password neither can be checked";
                return false;
            }
        // The fields both records take from the member.
        auto headerOf = [](const Member& m) {
            MemberHeader h;
            h.versionNeeded = m.versionNeeded;
            h.flags = WrittenFlags(m.claim.flags);
            h.method = m.claim.method;
            h.time = m.time;
            h.date = m.date;
            h.crc = m.claim.crc;
            h.compressedSize = m.claim.compressedSize;
            h.size = m.claim.size;
            h.name = m.name;
            return h;
        };
        std::vector<std::uint64_t> offsets;
        for (const Member& m : members) {
            offsets.push_back(out.size());
            MemberHeader h = headerOf(m);
            h.localExtra = Bytes(m.localExtra);
            PutLocalHeader(out, h);
            out.insert(out.end(), b_.begin() + static_cast<long>(m.dataAt),
                       b_.begin() + static_cast<long>(m.dataAt + m.claim.compressedSize));
            if (h.flags & kFlagDescriptor) {
                Put32(out, kDescriptorSignature);
                Put32(out, m.claim.crc);
                Put32(out, m.claim.compressedSize);
                Put32(out, m.claim.size);
            }
            if (out.size() > 0xFFFFFFFFu) {
                why = "too large for a ZIP file without Zip64";
                return false;
            }
        }
        const std::uint64_t cdStart = out.size();
        for (std::size_t i = 0; i < members.size(); ++i) {
            const Member& m = members[i];
            const CentralEntry* c = m.central;
            // A member found only by its local header takes from it what
            // the directory must tell.
            const std::vector<unsigned char> extra = c ? c->extra : CentralBlocksOf(m.localExtra);
            MemberHeader h = headerOf(m);
            h.versionMadeBy = c ? c->record.versionMadeBy : (ZIP_OPSYS_UNIX << 8) | 20;
            h.centralExtra = Bytes(extra);
            h.comment = c ? c->record.comment : std::string_view();
            h.internalAttributes = c ? c->record.internalAttributes : 0;
            h.externalAttributes = c ? c->record.externalAttributes : 0;
            h.localOffset = static_cast<std::uint32_t>(offsets[i]);
            PutCentralRecord(out, h);
        }
        const std::uint64_t cdSize = out.size() - cdStart;
        if (out.size() > 0xFFFFFFFFu) {
            why = "too large for a ZIP file without Zip64";
            return false;
        }
        PutEndRecord(out, members.size(), cdSize, cdStart, Bytes(dir_.comment));
        return true;
    }

private:
    static constexpr std::uint64_t kNowhere = ~std::uint64_t{0};

    // Where every local header signature in the book is.
    std::vector<std::uint64_t> LocalHeaders() const
    {
        std::vector<std::uint64_t> found;
        for (std::size_t at = 0; at + kLocalSize <= b_.size(); ++at)
            if (b_[at] == 'P' && HasLocalHeader(at))
                found.push_back(at);
        return found;
    }

    bool HasLocalHeader(std::uint64_t at) const
    {
        kivzip::LocalHeader header;
        return at < b_.size() && ReadLocalHeaderStart(&b_[at], b_.size() - at, header);
    }

    // The directory when the end record tells neither its size nor its
    // offset right: the first run of directory records that ends where an
    // end record begins.
    bool FindDirectoryRecords(std::uint64_t& start, std::uint64_t& stop) const
    {
        for (std::uint64_t at = 0; at + kCentralSize <= b_.size(); ++at) {
            if (b_[at] != 'P' || Get32(&b_[at]) != kCentralSignature)
                continue;
            DirectoryWalker walker(&b_[at], b_.size() - at);
            CentralRecord r;
            std::uint64_t end = at;
            while (walker.Next(r))
                end = at + walker.RecordAt() + r.length;
            if (end + 4 <= b_.size() &&
                (Get32(&b_[end]) == kEndSignature || Get32(&b_[end]) == kZip64EndSignature)) {
                start = at;
                stop = end;
                return true;
            }
        }
        return false;
    }

    // The directory's entries, their offsets moved by what lies before the
    // archive: of the shifts the directory's place suggests, no shift, and
    // the one that puts the first entry on the first local header, the one
    // that puts the most entries on a local header.
    std::vector<CentralEntry> ParseEntries(std::uint64_t start, std::uint64_t stop, std::int64_t shift) const
    {
        std::vector<CentralRecord> records;
        DirectoryWalker walker(&b_[start], stop - start);
        CentralRecord r;
        while (walker.Next(r))
            if (r.size < kUnknown32 && r.compressedSize < kUnknown32 && r.localOffset < kUnknown32)
                records.push_back(r); // what a book without Zip64 can hold
        const std::vector<std::uint64_t> locals = LocalHeaders();
        std::vector<std::int64_t> shifts{shift, 0};
        if (!records.empty() && !locals.empty())
            shifts.push_back(static_cast<std::int64_t>(locals.front()) -
                             static_cast<std::int64_t>(records.front().localOffset));
        std::int64_t best = shift;
        std::ptrdiff_t bestHits = -1;
        for (const std::int64_t candidate : shifts) {
            const std::ptrdiff_t hits = std::count_if(records.begin(), records.end(), [&](const CentralRecord& c) {
                const std::int64_t at = static_cast<std::int64_t>(c.localOffset) + candidate;
                return at >= 0 && std::binary_search(locals.begin(), locals.end(), static_cast<std::uint64_t>(at));
            });
            if (hits > bestHits) {
                best = candidate;
                bestHits = hits;
            }
        }
        std::vector<CentralEntry> entries;
        for (const CentralRecord& c : records) {
            const std::int64_t local = static_cast<std::int64_t>(c.localOffset) + best;
            CentralEntry e;
            e.record = c;
            e.extra = WithoutZip64(c.extra);
            e.localOffset = local >= 0 ? static_cast<std::uint64_t>(local) : kNowhere;
            entries.push_back(std::move(e));
        }
        return entries;
    }

    // Reads the local header at `at`. One whose signature is damaged is read
    // as if it were there, so that the directory's record can still find the
    // data after it; false when no header fits in the file.
    bool ReadLocal(std::uint64_t at, FoundHeader& h) const
    {
        if (at >= b_.size())
            return false;
        const unsigned char* p = &b_[at];
        const std::size_t available = b_.size() - at;
        kivzip::LocalHeader l;
        std::vector<unsigned char> mended;
        h.signature = ReadLocalHeader(p, available, l);
        if (!h.signature) {
            if (available < kLocalSize)
                return false;
            Put32(mended, kLocalSignature);
            mended.insert(mended.end(), p + 4, p + std::min<std::size_t>(available, kLocalSize + 2 * 0xFFFF));
            if (!ReadLocalHeader(mended.data(), mended.size(), l))
                return false;
        }
        h.dataAt = at + l.length;
        h.versionNeeded = l.versionNeeded;
        h.claim.flags = l.flags;
        h.claim.method = l.method;
        h.time = l.time;
        h.date = l.date;
        h.claim.crc = l.crc;
        // Sizes of 4 GiB and more stay marked unknown and are refused.
        h.claim.compressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(l.compressedSize, kUnknown32));
        h.claim.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(l.size, kUnknown32));
        h.claim.zip64 = l.zip64;
        h.name.assign(l.name);
        h.extra = WithoutZip64(l.extra);
        return true;
    }

    // The member whose local header is at `at`. With a directory entry its
    // record is tried first, then the local header's: the first reading
    // whose data check out against their CRC wins, else one that cannot be
    // checked (encrypted, another method) but ends where a record begins,
    // else the directory's reading is kept as damaged. Why::None when m is
    // a member to keep.
    Why Evaluate(std::uint64_t at, const CentralEntry* e, Member& m) const
    {
        FoundHeader h;
        const bool header = ReadLocal(at, h);
        m.name = e ? std::string(e->record.name) : h.name;
        if (!e && (!header || !h.signature))
            return Why::HeaderMissing;
        struct Reading {
            Claim claim;
            std::uint64_t dataAt;
            bool fromDirectory;
        };
        std::vector<Reading> readings;
        if (e) {
            const CentralRecord& r = e->record;
            Claim c;
            c.flags = r.flags;
            c.method = r.method;
            c.crc = r.crc;
            c.compressedSize = static_cast<std::uint32_t>(r.compressedSize);
            c.size = static_cast<std::uint32_t>(r.size);
            c.zip64 = header && h.claim.zip64;
            // Where the data begin when the local header's lengths are
            // damaged: after the directory's name and either extra field.
            const std::uint64_t base = at + kLocalSize + r.name.size();
            for (const std::uint64_t dataAt : {header ? h.dataAt : kNowhere,
                                               header ? base + h.extra.size() : kNowhere, base + e->extra.size()})
                if (dataAt <= b_.size() && std::none_of(readings.begin(), readings.end(),
                                                        [&](const Reading& x) { return x.dataAt == dataAt; }))
                    readings.push_back({c, dataAt, true});
        }
        // A local header of another name is read as the readers read it:
        // another member's, unless the data after it are this member's by
        // the directory's CRC (its name damaged). Where the directory
        // places another member's header there, it is that member's (this
        // record's offset is damaged) and this member's own header is
        // looked for elsewhere.
        const bool otherName = e && header && h.signature && h.name != e->record.name;
        if (otherName && HeaderOfAnother(at, h.name))
            return Why::HeaderMissing;
        if (header && h.signature && !otherName)
            readings.push_back({h.claim, h.dataAt, false});
        if (readings.empty())
            return Why::HeaderMissing;

        Why firstWhy = Why::None;
        std::optional<std::size_t> unchecked, damaged;
        std::vector<Check> checks(readings.size());
        for (std::size_t i = 0; i < readings.size(); ++i) {
            checks[i] = CheckData(readings[i].dataAt, readings[i].claim);
            if (checks[i].verified) {
                unchecked = i;
                break;
            }
            if (checks[i].plausible && !unchecked)
                unchecked = i;
            if (checks[i].keptDamaged && !damaged)
                damaged = i;
            if (firstWhy == Why::None)
                firstWhy = checks[i].why;
        }
        // Data kept as damaged need a local header of their own at their
        // place.
        const std::optional<std::size_t> chosen
            = unchecked ? unchecked : header && h.signature && !otherName ? damaged : std::nullopt;
        if (!chosen)
            return firstWhy == Why::None ? Why::HeaderMissing : firstWhy;
        const Reading& reading = readings[*chosen];
        const Check& check = checks[*chosen];
        const bool fromDirectory = reading.fromDirectory;
        m.headerAt = at;
        m.dataAt = reading.dataAt;
        m.claim = check.claim;
        m.end = check.end;
        m.verified = check.verified;
        m.damage = check.verified || check.plausible ? Why::None : check.why;
        m.central = e;
        m.corrected = e && !fromDirectory;
        m.versionNeeded = header && h.signature ? h.versionNeeded : 20;
        m.time = fromDirectory ? e->record.time : h.time;
        m.date = fromDirectory ? e->record.date : h.date;
        m.localExtra = header && h.signature ? h.extra : (e ? e->extra : std::vector<unsigned char>());
        if (e && header && h.signature && h.name != m.name && PlausibleName(h.name))
            m.otherName = h.name; // a candidate, decided by ChooseName
        const Check& local = checks.back(); // the local header's reading
        m.undecided = fromDirectory && check.plausible && !readings.back().fromDirectory && local.plausible &&
                      readings.back().dataAt == reading.dataAt &&
                      local.claim.compressedSize == check.claim.compressedSize &&
                      (local.claim.crc != check.claim.crc || local.claim.size != check.claim.size);
        return Why::None;
    }

    // Whether the directory places the local header of that name at `at`
    // for a member of that name.
    bool HeaderOfAnother(std::uint64_t at, std::string_view name) const
    {
        return std::any_of(dir_.entries.begin(), dir_.entries.end(),
            [&](const CentralEntry& other) { return other.localOffset == at && other.record.name == name; });
    }

    // The name of a directory member whose local header names it otherwise
    // (m.otherName holds that name). The damaged one of the two is the one
    // that another member bears, else the one with a control or non-ASCII
    // byte where the other is plain ASCII, else the one that breaks the
    // directory's order, else the one less like its neighbours' names (a
    // damaged byte rarely makes a name more like them); else the
    // directory's is kept.
    void ChooseName(std::size_t index, Member& m) const
    {
        if (m.otherName.empty())
            return;
        const std::string directoryName = m.name, localName = m.otherName;
        const std::string_view before = index > 0 ? dir_.entries[index - 1].record.name : std::string_view();
        const std::string_view after =
            index + 1 < dir_.entries.size() ? dir_.entries[index + 1].record.name : std::string_view();
        auto borne = [&](const std::string& name) {
            for (std::size_t i = 0; i < dir_.entries.size(); ++i)
                if (i != index && dir_.entries[i].record.name == name)
                    return true;
            return false;
        };
        auto inOrder = [&](const std::string& name) {
            return (before.empty() || before < name) && (after.empty() || name < after);
        };
        // How near a name is to a neighbour: the bytes they share in the
        // same places, then the length of their common start, then how far
        // apart they are from there on, read as numbers.
        auto nearness = [](std::string_view name, std::string_view neighbour) {
            if (neighbour.empty())
                return std::make_tuple(0L, 0L, 0LL);
            const std::size_t common = std::min(name.size(), neighbour.size());
            long shared = 0, same = 0;
            for (std::size_t i = 0; i < common; ++i)
                shared += name[i] == neighbour[i];
            while (same < static_cast<long>(common) && name[same] == neighbour[same])
                ++same;
            long long apart = 0;
            for (std::size_t i = static_cast<std::size_t>(same); i < static_cast<std::size_t>(same) + 7; ++i) {
                const int x = i < name.size() ? static_cast<unsigned char>(name[i]) : 0;
                const int y = i < neighbour.size() ? static_cast<unsigned char>(neighbour[i]) : 0;
                apart = apart * 256 + (x - y);
            }
            return std::make_tuple(shared, same, -std::llabs(apart));
        };
        auto near = [&](const std::string& name) { return std::max(nearness(name, before), nearness(name, after)); };
        auto plain = [](const std::string& name) {
            return std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
        };
        bool local = false;
        if (borne(directoryName) != borne(localName))
            local = borne(directoryName);
        else if (plain(directoryName) != plain(localName))
            local = plain(localName);
        else if (inOrder(directoryName) != inOrder(localName))
            local = inOrder(localName);
        else
            local = near(localName) > near(directoryName);
        if (local) {
            m.name = localName;
            m.otherName = directoryName;
            m.renamed = true;
        }
    }

    struct Check {
        Claim claim;            // as the data show it (the compressed size found)
        std::uint64_t end = 0;  // after the data and any descriptor
        bool verified = false;  // against a recorded CRC
        bool plausible = false; // cannot be checked, but ends where a record begins
        bool keptDamaged = false;
        Why why = Why::None;
    };

    // What the data at dataAt are, read as claim says.
    Check CheckData(std::uint64_t dataAt, const Claim& claim) const
    {
        Check c;
        c.claim = claim;
        const bool encrypted = claim.flags & kFlagEncrypted;
        const bool descriptor = claim.flags & kFlagDescriptor;
        const bool streamed = descriptor && claim.crc == 0 && claim.compressedSize == 0;
        if (claim.compressedSize == kUnknown32 || claim.size == kUnknown32) {
            c.why = Why::TooLarge;
            return c;
        }
        if (!encrypted && claim.method == kDeflated) {
            DeflateExtent extent;
            const bool ended = InflateToEnd(source_, dataAt, b_.size() - dataAt, extent);
            const std::uint64_t consumed = extent.consumed, produced = extent.produced;
            std::uint32_t crc = extent.crc;
            if (streamed && ended) {
                // The CRC and sizes follow the data.
                std::uint32_t recordedCrc = 0, recordedSize = 0;
                const std::uint64_t length = DescriptorAt(dataAt, consumed, claim.zip64, recordedCrc, recordedSize);
                if (!length) {
                    c.why = Why::NoCrc;
                    return c;
                }
                c.claim.crc = recordedCrc;
                c.claim.size = recordedSize;
                c.claim.compressedSize = static_cast<std::uint32_t>(consumed);
                c.end = dataAt + consumed + length;
                c.verified = crc == recordedCrc && produced == recordedSize;
                c.keptDamaged = !c.verified;
                c.why = Why::CrcMismatch;
                return c;
            }
            if (ended && produced == claim.size && crc == claim.crc) {
                c.claim.compressedSize = static_cast<std::uint32_t>(consumed);
                c.end = dataAt + consumed + (descriptor ? DescriptorAt(dataAt, consumed, claim.zip64, crc, crc) : 0);
                c.verified = true;
                return c;
            }
            c.why = ended && produced == claim.size ? Why::CrcMismatch : Why::DataDoNotInflate;
            // Written to a pipe, data that do not inflate to their end have
            // no end and no size: nothing of them can be kept.
            if (streamed)
                return c;
        } else if (streamed) {
            std::uint32_t crc = 0, size = 0, compressed = 0;
            if (!FindDescriptor(dataAt, claim.zip64, crc, compressed, size)) {
                c.why = Why::EndNotFound;
                return c;
            }
            c.claim.crc = crc;
            c.claim.compressedSize = compressed;
            c.claim.size = size;
            c.end = dataAt + compressed + DescriptorAt(dataAt, compressed, claim.zip64, crc, size);
            c.verified = !encrypted && claim.method == kStored && compressed == size && Crc(dataAt, size) == crc;
            c.plausible = !c.verified;
            return c;
        }
        if (b_.size() - dataAt < claim.compressedSize) {
            c.why = Why::DataCutOff;
            return c;
        }
        std::uint32_t crc = 0, size = 0;
        c.end = dataAt + claim.compressedSize +
                (descriptor ? DescriptorAt(dataAt, claim.compressedSize, claim.zip64, crc, size) : 0);
        if (!encrypted && claim.method == kStored) {
            c.verified = claim.compressedSize == claim.size && Crc(dataAt, claim.size) == claim.crc;
            c.why = Why::CrcMismatch;
        } else if (encrypted || claim.method != kDeflated) {
            c.plausible = RecordBeginsAt(c.end);
        }
        // Data that do not check out are kept as they are (other tools may
        // still get something out of them), marked as damaged.
        c.keptDamaged = !c.verified && !c.plausible;
        return c;
    }

    // True when `at` is the end of the file or where a record begins.
    bool RecordBeginsAt(std::uint64_t at) const
    {
        if (at == b_.size())
            return true;
        CentralRecord r;
        return HasLocalHeader(at) || ReadCentralRecord(&b_[at], b_.size() - at, r) ||
               (b_.size() - at >= 4 && (Get32(&b_[at]) == kEndSignature || Get32(&b_[at]) == kZip64EndSignature));
    }

    // The length of the data descriptor after compressed bytes of data at
    // dataAt, its CRC and size read into crc and size; 0 when there is none.
    std::uint64_t DescriptorAt(std::uint64_t dataAt, std::uint64_t compressed, bool zip64, std::uint32_t& crc,
                               std::uint32_t& size) const
    {
        DataDescriptor d;
        if (!DescriptorAfter(source_, dataAt, compressed, zip64, d) || d.size >= kUnknown32)
            return 0;
        crc = d.crc;
        size = static_cast<std::uint32_t>(d.size);
        return d.length;
    }

    // For stored or encrypted data followed by a data descriptor: the first
    // descriptor signature whose recorded size equals the distance to it.
    bool FindDescriptor(std::uint64_t dataAt, bool zip64, std::uint32_t& crc, std::uint32_t& compressed,
                        std::uint32_t& size) const
    {
        if (!descriptors_)
            descriptors_.emplace(source_);
        DataDescriptor d;
        if (!descriptors_->Find(dataAt, zip64, d) || d.compressedSize >= kUnknown32 ||
            d.size >= kUnknown32)
            return false;
        crc = d.crc;
        compressed = static_cast<std::uint32_t>(d.compressedSize);
        size = static_cast<std::uint32_t>(d.size);
        return true;
    }

    std::uint32_t Crc(std::uint64_t at, std::uint64_t length) const
    {
        uLong crc = crc32(0, Z_NULL, 0);
        while (length > 0) {
            const uInt chunk = static_cast<uInt>(std::min<std::uint64_t>(length, 1u << 30));
            crc = crc32(crc, &b_[at], chunk);
            at += chunk;
            length -= chunk;
        }
        return static_cast<std::uint32_t>(crc);
    }

    static std::uint16_t WrittenFlags(std::uint16_t flags)
    {
        // Encrypted members keep a descriptor: with it set, readers check the
        // password against the time rather than the CRC, as it was written.
        if (flags & kFlagEncrypted)
            return flags;
        return static_cast<std::uint16_t>(flags & ~kFlagDescriptor);
    }

    // Names the members that the bytes between the kept ones still show
    // (a local header damaged past reading, the directory lost), so that
    // no day leaves the book unsaid.
    void NameLost(const std::vector<Member>& kept, int& dropped)
    {
        std::set<std::string> said(dropped_.begin(), dropped_.end());
        for (const Member& m : kept)
            said.insert(m.name);
        std::uint64_t from = 0;
        auto gapBefore = [&](std::uint64_t until) {
            FoundHeader h;
            if (from + kLocalSize <= until && ReadLocal(from, h) && h.dataAt <= until && PlausibleName(h.name)
                && said.insert(h.name).second)
                Drop(h.name, Why::HeaderMissing, dropped);
        };
        for (const Member& m : kept) {
            gapBefore(m.headerAt);
            from = std::max(from, m.end);
        }
        gapBefore(directoryAt_);
    }

    void Drop(const std::string& name, Why why, int& dropped)
    {
        dropped_.push_back(name);
        out_.Note({ZIP32_REPAIR_DROPPED, static_cast<std::int32_t>(why), name.c_str(), nullptr, 0, 0, 0},
                  "zip warning: dropped " + name + " (" + WhyText(why) + ")");
        ++dropped;
    }

    const std::vector<unsigned char>& b_;
    const MemorySource source_{b_.data(), b_.size()};
    mutable std::optional<DescriptorIndex> descriptors_; // made on first use
    const Reporter& out_;
    CentralDirectory dir_;
    std::uint64_t directoryAt_ = 0; // where the directory begins, else the end of the book
    std::vector<std::string> dropped_;
};

// Whether the directory is whole as the readers walk it: every record its
// end record counts, none with lengths off.
bool DirectoryIsWhole(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool whole = false;
    if (::fstat(fd, &st) == 0) {
        const FileSource source(fd, static_cast<std::uint64_t>(st.st_size));
        EndOfDirectory end;
        if (FindEndOfDirectory(source, end) == FormatError::None) {
            DirectoryWalker walker(source, end.directoryAt, end.directoryEnd);
            std::uint64_t count = 0;
            for (CentralRecord r; walker.Next(r);)
                ++count;
            whole = !walker.Failed() && !walker.Stopped() && walker.Mended() == 0 && CountAgrees(end, count);
        }
    }
    ::close(fd);
    return whole;
}

// True when libzip reads the book strictly and every member's data checks
// out (encrypted ones as far as their sizes go), and its directory is whole.
bool IsSound(const std::string& path)
{
    if (!DirectoryIsWhole(path))
        return false;
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CHECKCONS | ZIP_RDONLY, &code);
    if (!archive)
        return false;
    bool sound = true;
    std::vector<char> buffer(65536);
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; sound && i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st) != 0) {
            sound = false;
            break;
        }
        const bool encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), encrypted ? ZIP_FL_ENCRYPTED : 0);
        if (!file) {
            sound = false;
            break;
        }
        const std::uint64_t expected = encrypted ? st.comp_size : st.size;
        std::uint64_t total = 0;
        zip_int64_t n;
        while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0)
            total += static_cast<std::uint64_t>(n);
        if (n < 0 || total != expected)
            sound = false;
        if (zip_fclose(file) != 0)
            sound = false;
    }
    zip_discard(archive);
    return sound;
}

bool ReadsStrictly(const std::vector<unsigned char>& bytes)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_CHECKCONS | ZIP_RDONLY, &error) : nullptr;
    if (archive)
        zip_discard(archive);
    else if (source)
        zip_source_free(source);
    zip_error_fini(&error);
    return archive != nullptr;
}

// Links the book as "BOOK.bak", or "BOOK.bak.N" with the first N that is
// free.
bool KeepAside(const std::string& path, std::string& backup, std::string& why)
{
    for (int number = 0; number < 1000; ++number) {
        backup = path + ".bak";
        if (number) {
            backup += '.';
            backup += std::to_string(number);
        }
        if (::link(path.c_str(), backup.c_str()) == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    why = std::strerror(errno);
    return false;
}

// What RepairOnce says of a book another program changed after it was read.
constexpr int kReadAgain = -1;

// One reading and repair of the book.
int RepairOnce(const std::string& path, int level, const Reporter& out)
{
    kiv::FileIdentity readAs = kiv::IdentityOf(path);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        out.Error("cannot open " + path + " (" + std::strerror(errno) + ")");
        return ZIP32_BAD_ARCHIVE;
    }
    if (!S_ISREG(st.st_mode)) {
        out.Error("cannot open " + path + " (not a regular file)");
        return ZIP32_BAD_ARCHIVE;
    }
    if (st.st_size > kLargestBook) {
        out.Error(path + " is too large to repair");
        return ZIP32_BAD_ARCHIVE;
    }
    const ZipRepairNote sound{ZIP32_REPAIR_SOUND, 0, path.c_str(), nullptr, 0, 0, 0};
    if (IsSound(path)) {
        out.Note(sound, path + ": no repair needed");
        return ZIP32_OK;
    }
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, bytes)) {
        out.Error("cannot read " + path + " (" + std::strerror(errno) + ")");
        return ZIP32_BAD_ARCHIVE;
    }

    out.Line(level >= 2 ? "Fix archive (-FF) - salvage what can" : "Fix archive (-F) - assume mostly intact archive");
    Repairer repairer(bytes, out);
    if (level < 2 && !repairer.ReadCentralDirectory().found) {
        out.Error("central directory not found in " + path + "; -FF may recover its members");
        return ZIP32_BAD_ARCHIVE;
    }
    std::vector<Member> members;
    int dropped = 0;
    if (!repairer.Recover(level, members, dropped)) {
        out.Error("no members could be recovered from " + path + "; it is unchanged");
        return ZIP32_BAD_ARCHIVE;
    }
    std::vector<unsigned char> rebuilt;
    std::string why;
    if (!repairer.Build(members, rebuilt, why)) {
        out.Error("cannot rebuild " + path + " (" + why + "); it is unchanged");
        return ZIP32_BAD_ARCHIVE;
    }
    if (!ReadsStrictly(rebuilt)) {
        out.Error("the rebuilt archive does not read back; " + path + " is unchanged");
        return ZIP32_BAD_ARCHIVE;
    }
    if (rebuilt == bytes) {
        // Members named as damaged are not "no repair needed": they stay
        // as they are because nothing can mend them.
        const bool damaged = dropped > 0
            || std::any_of(members.begin(), members.end(), [](const Member& m) { return m.damage != Why::None; });
        if (damaged)
            out.Note({ZIP32_REPAIR_UNCHANGED, 0, path.c_str(), nullptr, 0, 0, 0},
                path + ": left as it is; nothing in it can be mended");
        else
            out.Note(sound, path + ": no repair needed");
        return ZIP32_OK;
    }
    // The damaged book stays beside the repaired one, under a name of its
    // own that no later run overwrites.
    std::string backup;
    if (!(kiv::IdentityOf(path) == readAs))
        return kReadAgain;
    if (!KeepAside(path, backup, why)) {
        out.Error("cannot keep " + path + " as a backup (" + why + "); it is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    bool changed = !kiv::UnchangedButLinked(path, readAs);
    if (changed || !ReplaceBook(
            path, [&](int fd, std::string& error) { return WriteAll(fd, rebuilt.data(), rebuilt.size(), error); }, out, why,
            &readAs, &changed)) {
        ::unlink(backup.c_str());
        if (changed)
            return kReadAgain;
        out.Error("cannot write " + path + " (" + why + "); it is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    for (const Member& m : members)
        out.Line(" copying: " + m.name);
    const auto damaged = std::count_if(members.begin(), members.end(), [](const Member& m) { return m.damage != Why::None; });
    out.Note({ZIP32_REPAIR_SUMMARY, 0, nullptr, nullptr, static_cast<std::uint32_t>(members.size()),
              static_cast<std::uint32_t>(damaged), static_cast<std::uint32_t>(dropped)},
             std::to_string(members.size()) + " member" + (members.size() == 1 ? "" : "s") + " kept" +
                 (damaged ? " (" + std::to_string(damaged) + " damaged)" : std::string()) + ", " +
                 std::to_string(dropped) + " dropped");
    // Encrypted data cannot be checked without the password: kept as they
    // are, and said so.
    const auto unchecked = std::count_if(members.begin(), members.end(),
        [](const Member& m) { return !m.verified && m.damage == Why::None; });
    if (unchecked > 0)
        out.Note({ZIP32_REPAIR_UNCHECKED, 0, nullptr, nullptr, static_cast<std::uint32_t>(unchecked), 0, 0},
            std::to_string(unchecked) + " member" + (unchecked == 1 ? " was" : "s were")
                + " kept without their data checked (encrypted, or in a method this repair cannot read)");
    out.Note({ZIP32_REPAIR_BACKUP, 0, backup.c_str(), nullptr, 0, 0, 0}, "the damaged book is kept as " + backup);
    return ZIP32_OK;
}

} // namespace

int RepairBook(const std::string& path, int level, const Reporter& out)
{
    // A book another program changed meanwhile is repaired as it is now.
    for (int reads = 1; reads <= kMostReads; ++reads)
        if (const int code = RepairOnce(path, level, out); code != kReadAgain)
            return code;
    NoteCause(ZIP32_CAUSE_CHANGED, path);
    out.Error("cannot write " + path + " (other programs keep changing it); it is unchanged");
    return ZIP32_WRITE_ERROR;
}

} // namespace kivzip
