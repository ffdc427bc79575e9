// The records of the ZIP format as the writer and the repair read them in
// place.
#pragma once

#include "ZipFields.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

namespace kivzip {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::uint16_t kFlagEncrypted = 1;
constexpr std::uint16_t kFlagDescriptor = 8;
constexpr std::uint16_t kFlagUtf8 = 0x800;
constexpr std::uint32_t kUnknown32 = 0xFFFFFFFF;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kAesMethod = 99; // WinZip AES: the real method is in the extra field

inline void Put16(std::vector<unsigned char>& out, std::uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}
inline void Put32(std::vector<unsigned char>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void Put64(std::vector<unsigned char>& out, std::uint64_t v)
{
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}
// One central directory record, read where it lies. Sizes and the offset
// are those of the Zip64 block where the 32-bit fields say 0xFFFFFFFF.
struct CentralRecord {
    std::size_t length = 0; // of the whole record
    std::uint16_t versionMadeBy = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
    std::size_t offsetAt = 42;    // where the record holds the offset
    std::size_t offsetWidth = 4;  // 8 when it is in the Zip64 block
    std::string_view name, extra, comment;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
};

// Reads the record at p with available bytes from there; false when there
// is no whole record or its Zip64 block is damaged.
bool ReadCentralRecord(const unsigned char* p, std::size_t available, CentralRecord& record);

// Bytes held in a vector, as the writers take them.
inline std::string_view Bytes(const std::vector<unsigned char>& bytes)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A member as a writer puts it into its local header and its central
// directory record (sizes and offset in 32 bits: no Zip64).
struct MemberHeader {
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t time = 0;
    std::uint16_t date = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::string_view name, localExtra, centralExtra, comment;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localOffset = 0;
};

void PutLocalHeader(std::vector<unsigned char>& out, const MemberHeader& h);
void PutCentralRecord(std::vector<unsigned char>& out, const MemberHeader& h);
// The end record; a count, size or offset beyond its field says 0xFFFF or
// 0xFFFFFFFF (a Zip64 end record before it holds the value).
void PutEndRecord(std::vector<unsigned char>& out, std::uint64_t count, std::uint64_t directorySize,
    std::uint64_t directoryOffset, std::string_view comment);

} // namespace kivzip
