// SPDX-License-Identifier: GPL-3.0-or-later
// The fields of ZIP records as both archive libraries read them:
// little-endian integers and DOS dates, shared by zip32 and unzip32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace kivzip {

// Little-endian access.
inline std::uint16_t Get16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const unsigned char* p)
{
    return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
// Writes the low `width` bytes of v at p.
inline void Poke(unsigned char* p, std::uint64_t v, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The local time a DOS date and time stand for, as libzip reads them: the
// recorded fields normalised by mktime.
inline std::time_t DosTime(std::uint16_t date, std::uint16_t time)
{
    std::tm tm{};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = ((date >> 5) & 0x0F) - 1;
    tm.tm_mday = date & 0x1F;
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time << 1) & 0x3E;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// The DOS date and time libzip records for a moment: its local time, a
// year before 1980 taken as 1980, the fields cut to 16 bits.
inline void DosDateTimeOf(std::time_t moment, std::uint16_t& date, std::uint16_t& time)
{
    std::tm tm{};
    if (!localtime_r(&moment, &tm)) {
        date = (1 << 5) | 1; // 1980-01-01
        time = 0;
        return;
    }
    const int year = tm.tm_year < 80 ? 80 : tm.tm_year;
    date = static_cast<std::uint16_t>(((year - 80) << 9) + ((tm.tm_mon + 1) << 5) + tm.tm_mday);
    time = static_cast<std::uint16_t>((tm.tm_hour << 11) + (tm.tm_min << 5) + (tm.tm_sec >> 1));
}

} // namespace kivzip
