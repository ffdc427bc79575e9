// SPDX-License-Identifier: GPL-3.0-or-later
// The one place where a member's data is read, decrypted and inflated.
#pragma once

#include "BookCache.h"

#include <zlib.h>

#include <memory>
#include <vector>

namespace kivzip {

// Whether the member is read without libzip: stored or deflated (zlib) or
// LZMA (liblzma), not encrypted or under the traditional or AES encryption
// (AES with libcrypto); libzip reads the others.
bool ReadsWithoutLibzip(const Member& m);

// Reads members' data. It keeps what one extraction leaves for the next:
// the part of the book read last (members lie one after another, so a
// search reads the book in steps, not one member at a time) and zlib's
// inflater.
class MemberReader {
public:
    MemberReader();
    ~MemberReader();
    MemberReader(const MemberReader&) = delete;
    MemberReader& operator=(const MemberReader&) = delete;

    // Reads member m of the book into buffer, which holds capacity bytes
    // (at least m.size); never writes more than that, also when the data
    // would inflate to more. Only the member's local header and data are
    // read from the file. The local header must be the member's (its name
    // the directory's); where a directory field (method, CRC, sizes)
    // disagrees with it and the directory's values do not read, the local
    // header's are tried, and they count when the data check out by CRC:
    // *disagreement then says which field. Encrypted members are decrypted
    // with password (null: none is known, UNZIP_ERROR_PASSWORD_FILE).
    // written receives the member's size. Returns 0 or an unzip32 error code.
    int Read(const Book& book, const Member& m, const char* password, unsigned char* buffer, std::uint64_t capacity,
        std::uint64_t& written, std::string* disagreement = nullptr);

    // The member as its local header describes it (method, CRC and sizes;
    // the directory's where the header leaves them to a data descriptor);
    // false when the header is not found or is another member's.
    bool LocalView(const Book& book, const Member& m, Member& local);

    // Gives back memory beyond what a day usually needs.
    void Trim();

private:
    class Window;
    struct Located;
    int Locate(const Book& book, const Member& m, Located& where);
    int Decode(const Book& book, const Member& m, const Located& where, const char* password, unsigned char* buffer);
    int DecodeAes(const Book& book, const Member& m, const Located& where, const unsigned char* inWindow,
        const char* password, unsigned char* buffer);
    int DecodePlain(const Member& m, class Pieces& in, unsigned char* buffer);
    int Inflate(const Member& m, class Pieces& in, unsigned char* buffer);

    std::unique_ptr<Window> window_;
    std::vector<unsigned char> raw_;
    std::vector<unsigned char> plain_; // an AES member's data, decrypted
    z_stream z_{};
    bool inflating_ = false;
};

} // namespace kivzip
