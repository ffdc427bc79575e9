// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes through the format module's parsers, as the directory reader
// uses them: the end of the directory, every record the walker gives, each
// member's local header where the record says, its extra fields and a data
// descriptor after its data; and, where no directory is found, the walk
// from local header to local header. Every read must stay within the input.
#include "ZipFormat.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace kivzip;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const MemorySource source(data, size);
    EndOfDirectory end;
    if (FindEndOfDirectory(source, end) != FormatError::None) {
        std::vector<FoundMember> found;
        FindLocalMembers(source, found);
        std::uint64_t last = 0;
        for (const FoundMember& m : found) {
            // Members follow one another, each within the input.
            if (m.headerAt < last || !Fits(m.headerAt, kLocalSize + m.name.size() + m.extra.size(), size))
                std::abort();
            last = m.headerAt + 1;
        }
        return 0;
    }
    if (end.directoryAt > end.directoryEnd || end.directoryEnd > size || end.commentAt + end.commentLength > size)
        std::abort(); // the directory must lie within the file
    DirectoryWalker walker(data + end.directoryAt, static_cast<std::size_t>(end.directoryEnd - end.directoryAt));
    int records = 0;
    for (CentralRecord r; walker.Next(r) && records < 4096; ++records) {
        AesExtra aes;
        ReadAesExtra(r.extra, aes);
        Utf8NameExtra(r.extra, r.name);
        const std::uint64_t at = r.localOffset + static_cast<std::uint64_t>(end.shift);
        LocalHeader local;
        if (at >= size || !ReadLocalHeader(data + at, size - at, local))
            continue;
        if (local.length > size - at)
            std::abort(); // a header longer than the bytes it was read from
        const std::uint64_t dataAt = at + local.length;
        if (Fits(dataAt, r.compressedSize, size)) {
            const std::uint64_t after = dataAt + r.compressedSize;
            DataDescriptor descriptor;
            ReadDataDescriptor(data + after, size - after, local.zip64, r.compressedSize, descriptor);
        }
    }
    return 0;
}
