// SPDX-License-Identifier: GPL-3.0-or-later
// The password of encrypted members as libzip takes it, shared by zip32 and
// unzip32.
//
// Passwords reach both libraries in the ANSI code page (Shift_JIS), and the
// traditional encryption takes those bytes as they are. AES keys are derived
// by other ZIP tools (7-Zip, bsdtar, WinZip) from the UTF-8 form of the
// password, so a password that is not plain ASCII is converted for AES
// members: the same password then opens the member everywhere.
#pragma once

#include <iconv.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace kivzip {

// The UTF-8 form of an ANSI password; the bytes unchanged when they are no
// Shift_JIS text.
inline std::string AesPassword(const std::string& ansi)
{
    if (std::all_of(ansi.begin(), ansi.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return ansi;
    const iconv_t convert = iconv_open("UTF-8", "CP932");
    if (convert == reinterpret_cast<iconv_t>(-1))
        return ansi;
    std::string in = ansi;
    std::vector<char> out(ansi.size() * 3 + 1);
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    const bool converted = iconv(convert, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(convert);
    std::string result = converted ? std::string(out.data(), out.size() - outLeft) : ansi;
    std::fill(in.begin(), in.end(), '\0');
    std::fill(out.begin(), out.end(), '\0');
    return result;
}

inline bool IsAes(std::uint16_t encryption)
{
    return encryption == ZIP_EM_AES_128 || encryption == ZIP_EM_AES_192 || encryption == ZIP_EM_AES_256;
}

// The password as libzip takes it for a member of that encryption (a
// libzip ZIP_EM_ value).
inline std::string KeyFor(std::uint16_t encryption, const std::string& ansi)
{
    return IsAes(encryption) ? AesPassword(ansi) : ansi;
}

} // namespace kivzip
