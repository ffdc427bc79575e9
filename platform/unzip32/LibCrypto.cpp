// SPDX-License-Identifier: GPL-3.0-or-later
// libcrypto, loaded the first time an AES member is read (WinZipAes.cpp):
// most runs read plain or traditionally encrypted members only. These
// stand in for the libcrypto functions unzip32 calls.
#include "OnDemand.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#ifndef KIV_LIBCRYPTO_SONAME
#error "KIV_LIBCRYPTO_SONAME names the libcrypto to load (set by the build)"
#endif

#define KIV_LIBCRYPTO_FORWARD(result, name, parameters, arguments) \
    KIV_ON_DEMAND(KIV_LIBCRYPTO_SONAME, ::kiv::ondemand::Failure<result>(), result, name, parameters, arguments)

extern "C" {

KIV_LIBCRYPTO_FORWARD(unsigned char*, SHA1, (const unsigned char* a, size_t b, unsigned char* c), (a, b, c))
KIV_LIBCRYPTO_FORWARD(int, SHA1_Init, (SHA_CTX * a), (a))
KIV_LIBCRYPTO_FORWARD(int, SHA1_Update, (SHA_CTX * a, const void* b, size_t c), (a, b, c))
KIV_LIBCRYPTO_FORWARD(int, SHA1_Final, (unsigned char* a, SHA_CTX* b), (a, b))
KIV_LIBCRYPTO_FORWARD(void, SHA1_Transform, (SHA_CTX * a, const unsigned char* b), (a, b))
KIV_LIBCRYPTO_FORWARD(void, OPENSSL_cleanse, (void* a, size_t b), (a, b))
KIV_LIBCRYPTO_FORWARD(int, CRYPTO_memcmp, (const void* a, const void* b, size_t c), (a, b, c))
KIV_LIBCRYPTO_FORWARD(EVP_CIPHER_CTX*, EVP_CIPHER_CTX_new, (void), ())
KIV_LIBCRYPTO_FORWARD(void, EVP_CIPHER_CTX_free, (EVP_CIPHER_CTX * a), (a))
KIV_LIBCRYPTO_FORWARD(int, EVP_CIPHER_CTX_set_padding, (EVP_CIPHER_CTX * a, int b), (a, b))
KIV_LIBCRYPTO_FORWARD(int, EVP_EncryptInit_ex,
    (EVP_CIPHER_CTX * a, const EVP_CIPHER* b, ENGINE* c, const unsigned char* d, const unsigned char* e),
    (a, b, c, d, e))
KIV_LIBCRYPTO_FORWARD(int, EVP_EncryptUpdate,
    (EVP_CIPHER_CTX * a, unsigned char* b, int* c, const unsigned char* d, int e), (a, b, c, d, e))
KIV_LIBCRYPTO_FORWARD(const EVP_CIPHER*, EVP_aes_128_ecb, (void), ())
KIV_LIBCRYPTO_FORWARD(const EVP_CIPHER*, EVP_aes_192_ecb, (void), ())
KIV_LIBCRYPTO_FORWARD(const EVP_CIPHER*, EVP_aes_256_ecb, (void), ())

} // extern "C"
