// SPDX-License-Identifier: GPL-3.0-or-later
#include "WinZipAes.h"

#include "unzip32.h"

#ifdef KIV_LIBCRYPTO_SONAME
#include "OnDemand.h"
#endif

// The one-block SHA-1 function is what makes the key derivation fast; it
// is marked deprecated in OpenSSL 3 in favour of the EVP interfaces, whose
// per-call cost is the larger part of a 20-byte HMAC.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace kivzip {

namespace {

constexpr std::size_t kBlock = 64;       // SHA-1's input block
constexpr std::size_t kDigest = 20;      // SHA-1's output
constexpr std::size_t kVerifier = 2;
constexpr std::size_t kCodeLength = 10;  // of the authentication code
constexpr int kRounds = 1000;
constexpr std::size_t kMaxBlocks = 4; // of the derivation: 66 bytes for AES-256

void PutDigest(const SHA_CTX& state, unsigned char* out)
{
    const SHA_LONG words[] = {state.h0, state.h1, state.h2, state.h3, state.h4};
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = static_cast<unsigned char>(words[i] >> 24);
        out[4 * i + 1] = static_cast<unsigned char>(words[i] >> 16);
        out[4 * i + 2] = static_cast<unsigned char>(words[i] >> 8);
        out[4 * i + 3] = static_cast<unsigned char>(words[i]);
    }
}

void SetWords(SHA_CTX& state, const SHA_CTX& from)
{
    state.h0 = from.h0;
    state.h1 = from.h1;
    state.h2 = from.h2;
    state.h3 = from.h3;
    state.h4 = from.h4;
}

// HMAC-SHA1 with the states after the padded key computed once, so that a
// 20-byte message (a round of PBKDF2) costs two compressions and nothing
// else.
class HmacSha1 {
public:
    HmacSha1(const unsigned char* key, std::size_t length)
    {
        unsigned char block[kBlock] = {};
        if (length > kBlock)
            SHA1(key, length, block);
        else
            std::memcpy(block, key, length);
        unsigned char pad[kBlock];
        for (std::size_t i = 0; i < kBlock; ++i)
            pad[i] = block[i] ^ 0x36;
        SHA1_Init(&inner_);
        SHA1_Update(&inner_, pad, kBlock);
        for (std::size_t i = 0; i < kBlock; ++i)
            pad[i] = block[i] ^ 0x5c;
        SHA1_Init(&outer_);
        SHA1_Update(&outer_, pad, kBlock);
        OPENSSL_cleanse(block, sizeof block);
        OPENSSL_cleanse(pad, sizeof pad);
    }
    ~HmacSha1()
    {
        OPENSSL_cleanse(&inner_, sizeof inner_);
        OPENSSL_cleanse(&outer_, sizeof outer_);
    }
    HmacSha1(const HmacSha1&) = delete;
    HmacSha1& operator=(const HmacSha1&) = delete;

    void Mac(const unsigned char* data, std::size_t length, unsigned char* out) const
    {
        SHA_CTX state = inner_;
        unsigned char digest[kDigest];
        SHA1_Update(&state, data, length);
        SHA1_Final(digest, &state);
        state = outer_;
        SHA1_Update(&state, digest, kDigest);
        SHA1_Final(out, &state);
    }

    // The HMACs of `count` 20-byte messages, in and out in `blocks`, whose
    // bytes from 20 on hold SHA-1's padding for a 84-byte message
    // (MessageBlock). The messages go through each step together: each
    // compression waits for the one before it on the same message, and the
    // processor overlaps those of different messages.
    // `states` is room for `count` states; a one-block compression reads
    // and writes their chaining words alone.
    void Rounds(unsigned char (*blocks)[kBlock], SHA_CTX* states, std::size_t count) const
    {
        for (std::size_t b = 0; b < count; ++b) {
            SetWords(states[b], inner_);
            SHA1_Transform(&states[b], blocks[b]);
        }
        for (std::size_t b = 0; b < count; ++b) {
            PutDigest(states[b], blocks[b]);
            SetWords(states[b], outer_);
            SHA1_Transform(&states[b], blocks[b]);
        }
        for (std::size_t b = 0; b < count; ++b)
            PutDigest(states[b], blocks[b]);
    }

    // A block for Round: the padding after a 20-byte message that follows
    // the 64-byte key block.
    static void MessageBlock(unsigned char* block)
    {
        std::memset(block + kDigest, 0, kBlock - kDigest);
        block[kDigest] = 0x80;
        constexpr unsigned bits = (kBlock + kDigest) * 8;
        block[kBlock - 2] = static_cast<unsigned char>(bits >> 8);
        block[kBlock - 1] = static_cast<unsigned char>(bits & 0xFF);
    }

private:
    SHA_CTX inner_;
    SHA_CTX outer_;
};

// The first `count` blocks of PBKDF2-HMAC-SHA1 into out (20 bytes each),
// derived side by side.
void Derive(const HmacSha1& hmac, const unsigned char* salt, std::size_t saltLength, std::size_t count,
            unsigned char* out)
{
    unsigned char first[16 + 4];
    std::memcpy(first, salt, saltLength);
    unsigned char blocks[kMaxBlocks][kBlock];
    for (std::size_t b = 0; b < count; ++b) {
        const std::uint32_t index = static_cast<std::uint32_t>(b + 1);
        for (int i = 0; i < 4; ++i)
            first[saltLength + i] = static_cast<unsigned char>(index >> (24 - 8 * i));
        hmac.Mac(first, saltLength + 4, blocks[b]);
        std::memcpy(out + b * kDigest, blocks[b], kDigest);
        HmacSha1::MessageBlock(blocks[b]);
    }
    SHA_CTX states[kMaxBlocks];
    for (int round = 1; round < kRounds; ++round) {
        hmac.Rounds(blocks, states, count);
        for (std::size_t b = 0; b < count; ++b)
            for (std::size_t i = 0; i < kDigest; ++i)
                out[b * kDigest + i] ^= blocks[b][i];
    }
    OPENSSL_cleanse(blocks, sizeof blocks);
    OPENSSL_cleanse(states, sizeof states);
}

const EVP_CIPHER* Cipher(AesStrength strength)
{
    switch (strength) {
    case AesStrength::Aes128:
        return EVP_aes_128_ecb();
    case AesStrength::Aes192:
        return EVP_aes_192_ecb();
    case AesStrength::Aes256:
        break;
    }
    return EVP_aes_256_ecb();
}

// AES in counter mode as WinZip has it: the counter, a 128-bit
// little-endian number from 1, is encrypted for each 16-byte block of data.
bool CounterMode(AesStrength strength, const unsigned char* key, const unsigned char* in, std::size_t length,
                 unsigned char* out)
{
    constexpr std::size_t kBlocks = 256; // per call of the cipher
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (!context)
        return false;
    bool ok = EVP_EncryptInit_ex(context, Cipher(strength), nullptr, key, nullptr) == 1;
    EVP_CIPHER_CTX_set_padding(context, 0);
    unsigned char counters[kBlocks * 16];
    unsigned char stream[kBlocks * 16];
    std::memset(counters, 0, sizeof counters);
    std::uint64_t counter = 1;
    for (std::size_t done = 0; ok && done < length;) {
        const std::size_t bytes = std::min(length - done, sizeof stream);
        const std::size_t blocks = (bytes + 15) / 16;
        for (std::size_t b = 0; b < blocks; ++b, ++counter)
            for (int i = 0; i < 8; ++i)
                counters[16 * b + i] = static_cast<unsigned char>(counter >> (8 * i));
        int made = 0;
        ok = EVP_EncryptUpdate(context, stream, &made, counters, static_cast<int>(blocks * 16)) == 1
            && made == static_cast<int>(blocks * 16);
        for (std::size_t i = 0; ok && i < bytes; ++i)
            out[done + i] = in[done + i] ^ stream[i];
        done += bytes;
    }
    OPENSSL_cleanse(stream, sizeof stream);
    EVP_CIPHER_CTX_free(context);
    return ok;
}

} // namespace

int DecryptWinZipAes(AesStrength strength, const unsigned char* in, std::size_t length, const char* password,
                     std::vector<unsigned char>& plain)
{
    plain.clear();
#ifdef KIV_LIBCRYPTO_SONAME
    // Without libcrypto no AES member reads: the method is refused.
    static const bool loads = [] {
        std::string why;
        return kiv::ondemand::Loads(KIV_LIBCRYPTO_SONAME, why);
    }();
    if (!loads)
        return UNZIP_ERROR_METHOD;
#endif
    const std::size_t keyLength = 8 + 8 * static_cast<std::size_t>(strength); // 16, 24, 32 bytes
    const std::size_t saltLength = keyLength / 2;
    if (length < saltLength + kVerifier + kCodeLength)
        return UNZIP_ERROR_HEADER_BROKEN;
    const unsigned char* salt = in;
    const unsigned char* verifier = in + saltLength;
    const unsigned char* data = verifier + kVerifier;
    const std::size_t dataLength = length - saltLength - kVerifier - kCodeLength;
    const unsigned char* code = data + dataLength;

    // The encryption key, the authentication key and the verifier, in that
    // order; a wrong password costs this derivation and nothing more.
    const std::size_t derivedLength = 2 * keyLength + kVerifier;
    unsigned char derived[kMaxBlocks * kDigest];
    Derive(HmacSha1(reinterpret_cast<const unsigned char*>(password), std::strlen(password)), salt, saltLength,
           (derivedLength + kDigest - 1) / kDigest, derived);
    if (std::memcmp(derived + 2 * keyLength, verifier, kVerifier) != 0) {
        OPENSSL_cleanse(derived, sizeof derived);
        return UNZIP_ERROR_PASSWORD_FILE;
    }

    int result = 0;
    unsigned char mac[kDigest];
    HmacSha1(derived + keyLength, keyLength).Mac(data, dataLength, mac);
    if (CRYPTO_memcmp(mac, code, kCodeLength) != 0) {
        result = UNZIP_ERROR_FILE_CRC;
    } else {
        try {
            plain.resize(dataLength);
            if (!CounterMode(strength, derived, data, dataLength, plain.data())) {
                plain.clear();
                result = UNZIP_ERROR_MORE_HEAP_MEMORY;
            }
        } catch (const std::bad_alloc&) {
            result = UNZIP_ERROR_MORE_HEAP_MEMORY;
        }
    }
    OPENSSL_cleanse(derived, sizeof derived);
    return result;
}

} // namespace kivzip
