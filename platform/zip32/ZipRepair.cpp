// Repair of damaged books (-F, -FF).
//
// The book is read into memory and rebuilt member by member: -F takes the
// members that its central directory lists, -FF also every local header found
// by scanning the whole file, which recovers books whose central directory is
// gone or damaged and books with garbage before or after the archive. Each
// member's data is checked (decompressed and compared with its CRC-32) unless
// it is encrypted or uses a method zlib cannot read; those are carried over
// unchanged. Members that fail are dropped and named in the output. The new
// book is written with fresh central directory records and replaces the old
// one atomically; a book that needs no repair is left untouched.
#include "ZipImage.h"
#include "ZipRun.h"

#include <zip.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
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
    std::vector<CentralEntry> entries;
    std::vector<unsigned char> comment;
};

struct Member {
    std::uint64_t headerAt = 0;
    std::uint64_t dataAt = 0;
    std::uint64_t end = 0; // after the data and its descriptor
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::string name;
    std::vector<unsigned char> localExtra;
    bool zip64 = false; // sizes came from Zip64 fields
    const CentralEntry* central = nullptr;
    std::string damage; // why the data do not check out; empty when they do
};

bool PlausibleName(const std::string& name)
{
    if (name.empty() || name.size() > 1024)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\0'; });
}

constexpr std::uint16_t kAesExtra = 0x9901;

// The fields of a Zip64 extra block that stand in for the 32-bit fields
// marked 0xFFFFFFFF, in their order (size, compressed size, offset). A value
// the block does not hold stays as it was; false for a damaged block.
bool ReadZip64(const std::vector<unsigned char>& extra, std::uint64_t* const fields[3])
{
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::uint16_t id = Get16(&extra[at]);
        const std::size_t length = Get16(&extra[at + 2]);
        if (at + 4 + length > extra.size())
            return false;
        if (id == kZip64Extra) {
            std::size_t pos = at + 4;
            for (int i = 0; i < 3; ++i) {
                if (!fields[i] || *fields[i] != kUnknown32)
                    continue;
                if (pos + 8 > at + 4 + length)
                    return false;
                *fields[i] = Get32(&extra[pos]) | (static_cast<std::uint64_t>(Get32(&extra[pos + 4])) << 32);
                pos += 8;
            }
            return true;
        }
        at += 4 + length;
    }
    return true;
}

// The extra blocks whose id keep accepts, in their order.
template <typename Keep>
std::vector<unsigned char> ExtraBlocks(const std::vector<unsigned char>& extra, Keep keep)
{
    std::vector<unsigned char> out;
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::size_t length = Get16(&extra[at + 2]);
        const std::size_t end = std::min(extra.size(), at + 4 + length);
        if (keep(Get16(&extra[at])))
            out.insert(out.end(), extra.begin() + static_cast<long>(at), extra.begin() + static_cast<long>(end));
        at = end;
    }
    return out;
}

// The extra blocks without the Zip64 one: the rebuilt book records every
// size in the ordinary fields.
std::vector<unsigned char> WithoutZip64(const std::vector<unsigned char>& extra)
{
    return ExtraBlocks(extra, [](std::uint16_t id) { return id != kZip64Extra; });
}

// The extra blocks of a local header that readers look for in the central
// directory too: an AES member's method and strength.
std::vector<unsigned char> CentralBlocksOf(const std::vector<unsigned char>& localExtra)
{
    return ExtraBlocks(localExtra, [](std::uint16_t id) { return id == kAesExtra; });
}

class Repairer {
public:
    Repairer(const std::vector<unsigned char>& bytes, const Reporter& out) : b_(bytes), out_(out) {}

    CentralDirectory ReadCentralDirectory() const
    {
        CentralDirectory dir;
        if (b_.size() < kEndSize)
            return dir;
        const std::size_t lowest = b_.size() > kEndSize + 0xFFFF ? b_.size() - kEndSize - 0xFFFF : 0;
        for (std::size_t at = b_.size() - kEndSize + 1; at-- > lowest;) {
            if (Get32(&b_[at]) != kEndSignature)
                continue;
            const std::uint32_t cdSize = Get32(&b_[at + 12]);
            const std::uint32_t cdOffset = Get32(&b_[at + 16]);
            // Where the directory should begin: right before this record
            // (data before the archive shifts every offset), or at the
            // recorded offset.
            std::vector<std::uint64_t> starts;
            if (cdSize <= at)
                starts.push_back(at - cdSize);
            starts.push_back(cdOffset);
            for (const std::uint64_t start : starts) {
                if (start + 4 > b_.size() || Get32(&b_[start]) != kCentralSignature)
                    continue;
                const std::int64_t shift = static_cast<std::int64_t>(start) - static_cast<std::int64_t>(cdOffset);
                dir.found = true;
                dir.entries = ParseEntries(start, shift);
                const std::size_t commentLength = std::min<std::size_t>(Get16(&b_[at + 20]), b_.size() - at - kEndSize);
                dir.comment.assign(b_.begin() + static_cast<long>(at + kEndSize),
                                   b_.begin() + static_cast<long>(at + kEndSize + commentLength));
                return dir;
            }
            if (cdSize == 0 && Get16(&b_[at + 10]) == 0) {
                dir.found = true; // an empty archive
                return dir;
            }
        }
        return dir;
    }

    // Rebuilds the member list. Returns false when nothing can be recovered.
    bool Recover(int level, std::vector<Member>& kept, int& dropped)
    {
        dir_ = ReadCentralDirectory();
        std::map<std::uint64_t, const CentralEntry*> listed;
        for (const CentralEntry& e : dir_.entries)
            listed.emplace(e.localOffset, &e);

        std::vector<std::uint64_t> candidates;
        for (const auto& [offset, entry] : listed)
            candidates.push_back(offset);
        if (level >= 2)
            for (std::size_t at = 0; at + 4 <= b_.size(); ++at)
                if (b_[at] == 'P' && Get32(&b_[at]) == kLocalSignature)
                    candidates.push_back(at);
        std::sort(candidates.begin(), candidates.end());
        candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

        std::uint64_t covered = 0;
        for (const std::uint64_t at : candidates) {
            auto entry = listed.find(at);
            const CentralEntry* central = entry == listed.end() ? nullptr : entry->second;
            if (at < covered) {
                if (central)
                    Drop(std::string(central->record.name), "overlaps another member", dropped);
                continue; // a signature inside a member's data
            }
            Member m;
            std::string why;
            if (!ReadLocal(at, central, m)) {
                if (central)
                    Drop(std::string(central->record.name), "local header missing or damaged", dropped);
                continue;
            }
            if (!Resolve(m, why)) {
                if (central || PlausibleName(m.name))
                    Drop(m.name, why, dropped);
                continue;
            }
            // A damaged member whose recorded size reaches over the start of
            // another one is not what it claims.
            const auto next = std::upper_bound(candidates.begin(), candidates.end(), at);
            if (!m.damage.empty() && next != candidates.end() && *next < m.end) {
                Drop(m.name, m.damage, dropped);
                continue;
            }
            covered = m.end;
            kept.push_back(std::move(m));
        }

        // A name stored twice keeps its last copy, as a later update would.
        std::unordered_map<std::string, std::size_t> last;
        for (std::size_t i = 0; i < kept.size(); ++i)
            last[kept[i].name] = i;
        std::vector<Member> unique;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (last[kept[i].name] == i)
                unique.push_back(std::move(kept[i]));
            else
                Drop(kept[i].name, "an earlier copy", dropped);
        }
        kept = std::move(unique);
        for (const Member& m : kept)
            if (!m.damage.empty())
                out_.Warning("kept " + m.name + " though its data are damaged (" + m.damage + ")");
        return !kept.empty() || dir_.found;
    }

    // The new archive for the members.
    bool Build(const std::vector<Member>& members, std::vector<unsigned char>& out, std::string& why) const
    {
        if (members.size() > 0xFFFF) {
            why = "too many members for a ZIP file without Zip64";
            return false;
        }
        // The fields both records take from the member.
        auto headerOf = [](const Member& m) {
            MemberHeader h;
            h.versionNeeded = m.versionNeeded;
            h.flags = WrittenFlags(m);
            h.method = m.method;
            h.time = m.time;
            h.date = m.date;
            h.crc = m.crc;
            h.compressedSize = m.compressedSize;
            h.size = m.size;
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
                       b_.begin() + static_cast<long>(m.dataAt + m.compressedSize));
            if (h.flags & kFlagDescriptor) {
                Put32(out, kDescriptorSignature);
                Put32(out, m.crc);
                Put32(out, m.compressedSize);
                Put32(out, m.size);
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
    std::vector<CentralEntry> ParseEntries(std::uint64_t at, std::int64_t shift) const
    {
        std::vector<CentralEntry> entries;
        CentralRecord r;
        for (; at < b_.size() && ReadCentralRecord(&b_[at], b_.size() - at, r); at += r.length) {
            if (r.size >= kUnknown32 || r.compressedSize >= kUnknown32 || r.localOffset >= kUnknown32)
                continue; // beyond what a book without Zip64 can hold
            CentralEntry e;
            e.record = r;
            e.extra = WithoutZip64(std::vector<unsigned char>(r.extra.begin(), r.extra.end()));
            const std::int64_t local = static_cast<std::int64_t>(r.localOffset) + shift;
            if (local >= 0) {
                e.localOffset = static_cast<std::uint64_t>(local);
                entries.push_back(std::move(e));
            }
        }
        return entries;
    }

    bool ReadLocal(std::uint64_t at, const CentralEntry* central, Member& m) const
    {
        if (at + kLocalSize > b_.size() || Get32(&b_[at]) != kLocalSignature)
            return false;
        const unsigned char* p = &b_[at];
        const std::size_t nameLength = Get16(p + 26), extraLength = Get16(p + 28);
        m.headerAt = at;
        m.dataAt = at + kLocalSize + nameLength + extraLength;
        if (m.dataAt > b_.size())
            return false;
        m.versionNeeded = Get16(p + 4);
        m.flags = Get16(p + 6);
        m.method = Get16(p + 8);
        m.time = Get16(p + 10);
        m.date = Get16(p + 12);
        m.crc = Get32(p + 14);
        m.compressedSize = Get32(p + 18);
        m.size = Get32(p + 22);
        m.name.assign(reinterpret_cast<const char*>(p + kLocalSize), nameLength);
        m.localExtra.assign(p + kLocalSize + nameLength, p + kLocalSize + nameLength + extraLength);
        if (m.size == kUnknown32 || m.compressedSize == kUnknown32) {
            std::uint64_t size = m.size, compressed = m.compressedSize;
            std::uint64_t* const fields[3] = {&size, &compressed, nullptr};
            if (!ReadZip64(m.localExtra, fields))
                return false;
            m.zip64 = true;
            // Sizes of 4 GiB and more stay marked unknown and are refused.
            m.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, kUnknown32));
            m.compressedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(compressed, kUnknown32));
        }
        m.localExtra = WithoutZip64(m.localExtra);
        m.central = central;
        if (central && central->record.name != m.name) {
            // The local header decides where the data is; the directory's
            // name is taken only when the local one is unusable.
            if (!PlausibleName(m.name))
                m.name = central->record.name;
            else
                m.central = nullptr;
        }
        return !m.name.empty();
    }

    // Finds the extent of the member's data and checks it.
    bool Resolve(Member& m, std::string& why) const
    {
        const bool encrypted = m.flags & kFlagEncrypted;
        if (m.flags & kFlagDescriptor) {
            const CentralEntry* c = m.central;
            if (c) {
                // Directory sizes beyond 32 bits never reach the entries.
                m.crc = c->record.crc;
                m.compressedSize = static_cast<std::uint32_t>(c->record.compressedSize);
                m.size = static_cast<std::uint32_t>(c->record.size);
            } else if (m.compressedSize == 0 && m.crc == 0 && m.size == 0) {
                if (m.method == 8 && !encrypted) {
                    std::uint64_t consumed = 0, produced = 0;
                    std::uint32_t crc = 0;
                    if (!Inflate(m.dataAt, b_.size() - m.dataAt, consumed, produced, crc)) {
                        why = "data damaged";
                        return false;
                    }
                    m.compressedSize = static_cast<std::uint32_t>(consumed);
                    m.size = static_cast<std::uint32_t>(produced);
                    m.crc = crc;
                } else if (!FindDescriptor(m)) {
                    why = "end of data not found";
                    return false;
                }
            }
        }
        if (m.compressedSize == kUnknown32 || m.size == kUnknown32) {
            why = "4 GiB or larger";
            return false;
        }
        if (m.dataAt + m.compressedSize > b_.size()) {
            why = "data cut off";
            return false;
        }
        m.end = m.dataAt + m.compressedSize;
        if (m.flags & kFlagDescriptor)
            m.end += DescriptorLength(m);

        // Data that do not check out are kept as they are (other tools may
        // still get something out of them), marked as damaged.
        if (encrypted)
            return true; // checked by whoever has the password
        if (m.method == 0) {
            if (m.compressedSize != m.size || Crc(m.dataAt, m.size) != m.crc)
                m.damage = "CRC mismatch";
        } else if (m.method == 8) {
            std::uint64_t consumed = 0, produced = 0;
            std::uint32_t crc = 0;
            if (!Inflate(m.dataAt, m.compressedSize, consumed, produced, crc) || produced != m.size)
                m.damage = "data do not inflate";
            else if (crc != m.crc)
                m.damage = "CRC mismatch";
        }
        return true;
    }

    std::uint64_t DescriptorLength(const Member& m) const
    {
        const std::uint64_t at = m.dataAt + m.compressedSize;
        if (m.zip64 && at + 24 <= b_.size() && Get32(&b_[at]) == kDescriptorSignature && Get32(&b_[at + 4]) == m.crc)
            return 24;
        if (at + 16 <= b_.size() && Get32(&b_[at]) == kDescriptorSignature && Get32(&b_[at + 4]) == m.crc)
            return 16;
        if (at + 12 <= b_.size() && Get32(&b_[at]) == m.crc && Get32(&b_[at + 4]) == m.compressedSize)
            return 12;
        return 0;
    }

    // For stored or encrypted data followed by a data descriptor: the first
    // descriptor signature whose recorded size equals the distance to it.
    bool FindDescriptor(Member& m) const
    {
        for (std::uint64_t at = m.dataAt; at + 16 <= b_.size(); ++at) {
            if (b_[at] != 'P' || Get32(&b_[at]) != kDescriptorSignature)
                continue;
            if (Get32(&b_[at + 8]) != at - m.dataAt)
                continue;
            m.crc = Get32(&b_[at + 4]);
            m.compressedSize = static_cast<std::uint32_t>(at - m.dataAt);
            if (!m.zip64) {
                m.size = Get32(&b_[at + 12]);
                return true;
            }
            // 8-byte sizes follow the CRC.
            if (at + 24 <= b_.size() && Get32(&b_[at + 12]) == 0 && Get32(&b_[at + 20]) == 0) {
                m.size = Get32(&b_[at + 16]);
                return true;
            }
        }
        return false;
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

    // Inflates raw deflate data from at, reading at most available bytes;
    // true when the stream ends properly within them.
    bool Inflate(std::uint64_t at, std::uint64_t available, std::uint64_t& consumed, std::uint64_t& produced,
                 std::uint32_t& crc) const
    {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return false;
        unsigned char window[65536];
        uLong sum = crc32(0, Z_NULL, 0);
        int status = Z_OK;
        std::uint64_t in = 0, out = 0;
        while (status == Z_OK) {
            if (z.avail_in == 0) {
                const std::uint64_t left = available - in;
                if (left == 0)
                    break;
                z.next_in = const_cast<Bytef*>(&b_[at + in]);
                z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(left, 1u << 30));
                in += z.avail_in;
            }
            z.next_out = window;
            z.avail_out = sizeof(window);
            status = inflate(&z, Z_NO_FLUSH);
            const std::size_t made = sizeof(window) - z.avail_out;
            sum = crc32(sum, window, static_cast<uInt>(made));
            out += made;
            if (out > 0xFFFFFFFFu)
                status = Z_DATA_ERROR; // larger than the member can record
        }
        consumed = in - z.avail_in;
        produced = out;
        crc = static_cast<std::uint32_t>(sum);
        inflateEnd(&z);
        return status == Z_STREAM_END;
    }

    static std::uint16_t WrittenFlags(const Member& m)
    {
        // Encrypted members keep a descriptor: with it set, readers check the
        // password against the time rather than the CRC, as it was written.
        if (m.flags & kFlagEncrypted)
            return m.flags;
        return static_cast<std::uint16_t>(m.flags & ~kFlagDescriptor);
    }

    void Drop(const std::string& name, const std::string& why, int& dropped) const
    {
        out_.Warning("dropped " + name + " (" + why + ")");
        ++dropped;
    }

    const std::vector<unsigned char>& b_;
    const Reporter& out_;
    CentralDirectory dir_;
};

// True when libzip reads the book strictly and every member's data checks
// out (encrypted ones as far as their sizes go).
bool IsSound(const std::string& path)
{
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

} // namespace

int RepairBook(const std::string& path, int level, const Reporter& out)
{
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
    if (IsSound(path)) {
        out.Line(path + ": no repair needed");
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
        out.Line(path + ": no repair needed");
        return ZIP32_OK;
    }
    // The damaged book stays beside the repaired one, under a name of its
    // own that no later run overwrites.
    std::string backup;
    if (!KeepAside(path, backup, why)) {
        out.Error("cannot keep " + path + " as a backup (" + why + "); it is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    if (!ReplaceBook(
            path, [&](int fd, std::string& error) { return WriteAll(fd, rebuilt.data(), rebuilt.size(), error); }, out, why)) {
        ::unlink(backup.c_str());
        out.Error("cannot write " + path + " (" + why + "); it is unchanged");
        return ZIP32_WRITE_ERROR;
    }
    for (const Member& m : members)
        out.Line(" copying: " + m.name);
    const auto damaged = std::count_if(members.begin(), members.end(), [](const Member& m) { return !m.damage.empty(); });
    out.Line(std::to_string(members.size()) + " member" + (members.size() == 1 ? "" : "s") + " kept" +
             (damaged ? " (" + std::to_string(damaged) + " damaged)" : std::string()) + ", " +
             std::to_string(dropped) + " dropped");
    out.Line("the damaged book is kept as " + backup);
    return ZIP32_OK;
}

} // namespace kivzip
