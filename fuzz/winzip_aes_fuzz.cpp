// SPDX-License-Identifier: GPL-3.0-or-later
// An AES member's data as any bytes: the first byte picks the key strength
// and the password's length, the password follows, the rest is the data
// (salt, verifier, encrypted data, authentication code). Whatever the
// bytes, the reader returns a code and, unless it is 0, no plain text; when
// it is 0, the plain text is as long as the encrypted data.
#include "WinZipAes.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kivzip;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const auto strength = static_cast<AesStrength>(1 + data[0] % 3);
    const std::size_t passwordLength = std::min<std::size_t>(data[0] / 3, size - 1);
    const std::string password(reinterpret_cast<const char*>(data + 1), passwordLength);
    const std::uint8_t* in = data + 1 + passwordLength;
    const std::size_t length = size - 1 - passwordLength;
    std::vector<unsigned char> plain(3, 0xAA); // left over from a member before
    const int code = DecryptWinZipAes(strength, in, length, password.c_str(), plain);
    const std::size_t salt = 4 + 4 * static_cast<std::size_t>(strength);
    if (code != 0 ? !plain.empty() : plain.size() != length - salt - 2 - 10)
        std::abort();
    return 0;
}
