// SPDX-License-Identifier: GPL-3.0-or-later
// Reading members under WinZip's AES encryption (AE-1 and AE-2).
//
// The member's data is the salt (8, 12 or 16 bytes for AES-128, -192,
// -256), a 2-byte password verifier, the encrypted data and a 10-byte
// authentication code. The keys come from PBKDF2-HMAC-SHA1 (1,000 rounds)
// of the password and the salt; the data is AES in counter mode with a
// little-endian counter, and the authentication code is HMAC-SHA1 of the
// encrypted data. The crypto library (libcrypto) is loaded when an AES
// member is first read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kivzip {

// AES key strength as the member's AES extra field records it: 1 (128
// bits), 2 (192), 3 (256).
enum class AesStrength : std::uint8_t { Aes128 = 1, Aes192 = 2, Aes256 = 3 };

// Decrypts `length` bytes of an AES member's data at `in` with password
// (its UTF-8 form, as other ZIP tools take it) into plain, which then holds
// the member's stored or compressed data. The authentication code is
// verified over the whole encrypted data before a byte is decrypted: plain
// is left empty on any failure. Returns 0, UNZIP_ERROR_PASSWORD_FILE (the
// verifier does not match: one key derivation spent),
// UNZIP_ERROR_FILE_CRC (the authentication code does not match: the data
// is damaged), UNZIP_ERROR_HEADER_BROKEN (too short to hold salt,
// verifier and code) or UNZIP_ERROR_MORE_HEAP_MEMORY.
//
// Any thread may call it; it keeps no state between calls.
int DecryptWinZipAes(AesStrength strength, const unsigned char* in, std::size_t length, const char* password,
                     std::vector<unsigned char>& plain);

} // namespace kivzip
