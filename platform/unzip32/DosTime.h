// The DOS date and time of a ZIP record, shared by zip32 and unzip32.
#pragma once

#include <cstdint>
#include <ctime>

namespace kivzip {

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

} // namespace kivzip
