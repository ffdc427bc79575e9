#include "ZipFormat.h"

#include <algorithm>

namespace kivzip {

bool ReadCentralRecord(const unsigned char* p, std::size_t available, CentralRecord& r)
{
    if (available < kCentralSize || Get32(p) != kCentralSignature)
        return false;
    const std::size_t nameLength = Get16(p + 28), extraLength = Get16(p + 30), commentLength = Get16(p + 32);
    r.length = kCentralSize + nameLength + extraLength + commentLength;
    if (r.length > available)
        return false;
    r.versionMadeBy = Get16(p + 4);
    r.flags = Get16(p + 8);
    r.method = Get16(p + 10);
    r.time = Get16(p + 12);
    r.date = Get16(p + 14);
    r.crc = Get32(p + 16);
    r.compressedSize = Get32(p + 20);
    r.size = Get32(p + 24);
    r.internalAttributes = Get16(p + 36);
    r.externalAttributes = Get32(p + 38);
    r.localOffset = Get32(p + 42);
    r.offsetAt = 42;
    r.offsetWidth = 4;
    const char* name = reinterpret_cast<const char*>(p + kCentralSize);
    r.name = std::string_view(name, nameLength);
    r.extra = std::string_view(name + nameLength, extraLength);
    r.comment = std::string_view(name + nameLength + extraLength, commentLength);

    // The Zip64 block holds, in this order, the values whose 32-bit fields
    // say 0xFFFFFFFF.
    std::uint64_t* const fields[3] = {&r.size, &r.compressedSize, &r.localOffset};
    const auto* extra = reinterpret_cast<const unsigned char*>(r.extra.data());
    for (std::size_t at = 0; at + 4 <= r.extra.size();) {
        const std::size_t length = Get16(extra + at + 2);
        if (at + 4 + length > r.extra.size())
            return false;
        if (Get16(extra + at) == kZip64Extra) {
            std::size_t pos = at + 4;
            for (std::uint64_t* field : fields) {
                if (*field != kUnknown32)
                    continue;
                if (pos + 8 > at + 4 + length)
                    return false;
                *field = Get64(extra + pos);
                if (field == &r.localOffset) {
                    r.offsetAt = kCentralSize + nameLength + pos;
                    r.offsetWidth = 8;
                }
                pos += 8;
            }
            break;
        }
        at += 4 + length;
    }
    return true;
}

namespace {

void PutBytes(std::vector<unsigned char>& out, std::string_view bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// The fields from the version needed to the CRC and sizes, as both records
// hold them.
void PutShared(std::vector<unsigned char>& out, const MemberHeader& h)
{
    Put16(out, h.versionNeeded);
    Put16(out, h.flags);
    Put16(out, h.method);
    Put16(out, h.time);
    Put16(out, h.date);
    Put32(out, h.crc);
    Put32(out, h.compressedSize);
    Put32(out, h.size);
    Put16(out, static_cast<std::uint32_t>(h.name.size()));
}

} // namespace

void PutLocalHeader(std::vector<unsigned char>& out, const MemberHeader& h)
{
    Put32(out, kLocalSignature);
    PutShared(out, h);
    Put16(out, static_cast<std::uint32_t>(h.localExtra.size()));
    PutBytes(out, h.name);
    PutBytes(out, h.localExtra);
}

void PutCentralRecord(std::vector<unsigned char>& out, const MemberHeader& h)
{
    Put32(out, kCentralSignature);
    Put16(out, h.versionMadeBy);
    PutShared(out, h);
    Put16(out, static_cast<std::uint32_t>(h.centralExtra.size()));
    Put16(out, static_cast<std::uint32_t>(h.comment.size()));
    Put16(out, 0); // disk
    Put16(out, h.internalAttributes);
    Put32(out, h.externalAttributes);
    Put32(out, h.localOffset);
    PutBytes(out, h.name);
    PutBytes(out, h.centralExtra);
    PutBytes(out, h.comment);
}

void PutEndRecord(std::vector<unsigned char>& out, std::uint64_t count, std::uint64_t directorySize,
    std::uint64_t directoryOffset, std::string_view comment)
{
    const auto count16 = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFF));
    Put32(out, kEndSignature);
    Put16(out, 0); // disks
    Put16(out, 0);
    Put16(out, count16);
    Put16(out, count16);
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(directorySize, kUnknown32)));
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(directoryOffset, kUnknown32)));
    const std::size_t commentLength = std::min<std::size_t>(comment.size(), 0xFFFF);
    Put16(out, static_cast<std::uint32_t>(commentLength));
    PutBytes(out, comment.substr(0, commentLength));
}

} // namespace kivzip
