// What one ZpArchive run shares between its parts: the settings taken from
// ZipOptions, the output, and the atomic file replacement.
#pragma once

#include "zip32.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
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

    static RunSettings From(const ZipOptions& options);
};

// Output lines through the print callback: one call per line, each ending
// with a line feed; nothing when the run is quiet.
class Reporter {
public:
    Reporter(ZipPrintFn print, bool quiet) : print_(print), quiet_(quiet) {}
    void Line(const std::string& text) const;
    void Warning(const std::string& text) const { Line("zip warning: " + text); }
    void Error(const std::string& text) const { Line("zip error: " + text); }

private:
    ZipPrintFn print_;
    bool quiet_;
};

// Writes bytes to a new file beside path, flushes it to the disk and renames
// it over path, keeping path's permission bits. On failure path is unchanged;
// returns false and sets error to the cause.
bool ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error);

// Reads a whole file; false (with errno set) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes);

// Percentage saved from size to stored, as the zip tool reports it.
int SavedPercent(std::uint64_t size, std::uint64_t stored);

// Repairs the book at path (level 1 for -F, 2 for -FF). Returns a ZpArchive
// result code.
int RepairBook(const std::string& path, int level, const Reporter& out);

// Little-endian access used by the repair.
inline std::uint16_t Get16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
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

} // namespace kivzip
