// The one place where a member's data is read, decrypted and inflated.
#pragma once

#include "BookCache.h"

namespace kivzip {

// Reads member m of the book into buffer, which holds at least m.size
// bytes; never writes more than m.size bytes, also when the data would
// inflate to more. Only the member's local header and data are read from
// the file. Encrypted members are decrypted with password (null: none is
// known, UNZIP_ERROR_PASSWORD_FILE). Returns 0 or an unzip32 error code.
int ReadMemberData(const Book& book, const Member& m, const char* password, unsigned char* buffer);

// Whether the member is read with zlib alone (stored or deflated, not
// encrypted or under the traditional or AES encryption, AES with
// libcrypto); libzip reads the others.
bool ReadsWithZlibAlone(const Member& m);

} // namespace kivzip
