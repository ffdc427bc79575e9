#include "MemberData.h"

#include "AesPassword.h"
#include "WinZipAes.h"
#include "ZipFields.h"
#include "unzip32.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace kivzip {

namespace {

constexpr std::size_t kLocalLength = 30, kCentralLength = 46, kEndLength = 22;
// Room for the local header's name and extra field read together with the
// data; a longer local header costs a second read.
constexpr std::size_t kLocalGuess = 256;

int CodeForOpenError(int zipError)
{
    switch (zipError) {
    case ZIP_ER_NOZIP:
        return UNZIP_ERROR_NOT_ARC_FILE;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
        return UNZIP_ERROR_HEADER_BROKEN;
    case ZIP_ER_MULTIDISK:
        return UNZIP_ERROR_VERSION;
    case ZIP_ER_MEMORY:
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    default:
        return UNZIP_ERROR_CANNOT_READ;
    }
}

int CodeForReadError(int zipError)
{
    switch (zipError) {
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_NOPASSWD:
        return UNZIP_ERROR_PASSWORD_FILE;
    case ZIP_ER_CRC:
        return UNZIP_ERROR_FILE_CRC;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
        return UNZIP_ERROR_METHOD;
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_ZLIB:
        return UNZIP_ERROR_HUFFMAN_CODE;
    case ZIP_ER_INCONS:
    case ZIP_ER_NOZIP:
    case ZIP_ER_EOF:
        return UNZIP_ERROR_HEADER_BROKEN;
    case ZIP_ER_MEMORY:
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        return UNZIP_ERROR_CANNOT_READ;
    case ZIP_ER_MULTIDISK:
        return UNZIP_ERROR_VERSION;
    default:
        return UNZIP_ERROR_UNEXPECTED;
    }
}

// The part of the book read last. Members lie one after another, so a
// search reads the book in steps of this size, not one member at a time.
class Window {
public:
    // The bytes of the book at [offset, offset + length), fewer where the
    // book ends first; null when reading fails.
    const unsigned char* Get(const Book& book, std::uint64_t offset, std::size_t length, std::size_t& available)
    {
        const std::uint64_t fileSize = static_cast<std::uint64_t>(book.Key().size);
        available = static_cast<std::size_t>(std::min<std::uint64_t>(length, fileSize - offset));
        if (!(valid_ && key_ == book.Key() && offset >= start_ && offset + available <= start_ + bytes_.size())) {
            valid_ = false;
            bytes_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::max(length, kStep), fileSize - offset)));
            if (!ReadAt(book.Descriptor(), offset, bytes_.data(), bytes_.size()))
                return nullptr;
            valid_ = true;
            key_ = book.Key();
            start_ = offset;
        }
        return bytes_.data() + (offset - start_);
    }

    // A picture's worth stays; more is given back.
    void Trim()
    {
        if (bytes_.capacity() > kKept) {
            std::vector<unsigned char>().swap(bytes_);
            valid_ = false;
        }
    }

private:
    static constexpr std::size_t kStep = 64 * 1024;
    static constexpr std::size_t kKept = 1024 * 1024;
    bool valid_ = false;
    FileKey key_;
    std::uint64_t start_ = 0;
    std::vector<unsigned char> bytes_;
};

// The member's local header, name, extra field and data: `length` bytes
// at `local`, the data from `data` on.
int ReadLocal(const Book& book, const Member& m, Window& window, const unsigned char*& local, std::size_t& length,
              std::size_t& data)
{
    // Deflate never grows data by more than a few bytes per block; a stored
    // size far beyond that is a damaged header, and no memory is taken for it.
    if (m.compressedSize > m.size + m.size / 8 + 1024)
        return UNZIP_ERROR_HEADER_BROKEN;
    const std::uint64_t fileSize = static_cast<std::uint64_t>(book.Key().size);
    if (m.localOffset >= fileSize)
        return UNZIP_ERROR_HEADER_BROKEN;
    std::size_t available = 0;
    local = window.Get(book, m.localOffset, kLocalLength + kLocalGuess + static_cast<std::size_t>(m.compressedSize),
                       available);
    if (!local)
        return UNZIP_ERROR_CANNOT_READ;
    if (available < kLocalLength || local[0] != 'P' || local[1] != 'K' || local[2] != 3 || local[3] != 4)
        return UNZIP_ERROR_HEADER_BROKEN;
    data = kLocalLength + Get16(local + 26) + Get16(local + 28);
    length = data + static_cast<std::size_t>(m.compressedSize);
    if (length > available) {
        // A local header longer than guessed, or data that runs past the
        // end of the book.
        if (length > fileSize - m.localOffset)
            return UNZIP_ERROR_HEADER_BROKEN;
        local = window.Get(book, m.localOffset, length, available);
        if (!local)
            return UNZIP_ERROR_CANNOT_READ;
    }
    return 0;
}

int CheckCrc(const Member& m, const unsigned char* buffer)
{
    // AES members in the AE-2 form record no CRC (0): their authentication
    // code has vouched for the data. AE-1 records it, and it is compared.
    if (IsAes(m.encryption) && m.crc == 0)
        return 0;
    uLong crc = crc32(0, Z_NULL, 0);
    for (std::uint64_t done = 0; done < m.size;) {
        const uInt chunk = static_cast<uInt>(std::min<std::uint64_t>(m.size - done, 1u << 30));
        crc = crc32(crc, buffer + done, chunk);
        done += chunk;
    }
    return static_cast<std::uint32_t>(crc) == m.crc ? 0 : UNZIP_ERROR_FILE_CRC;
}

// Stored and deflated data, `length` bytes at `in`: copied or inflated
// with zlib, which libzip would use too, without the cost of opening an
// archive.
int DecodePlain(const Member& m, const unsigned char* in, std::uint64_t length, unsigned char* buffer)
{
    if (m.method == ZIP_CM_STORE) {
        if (length != m.size)
            return UNZIP_ERROR_HEADER_BROKEN;
        if (m.size > 0)
            std::memcpy(buffer, in, m.size);
        return CheckCrc(m, buffer);
    }
    // One inflater per thread, kept between calls: a search reads
    // thousands of members, on several threads.
    thread_local struct Inflater {
        z_stream z{};
        bool ready = false;
        ~Inflater()
        {
            if (ready)
                inflateEnd(&z);
        }
    } inflater;
    z_stream& z = inflater.z;
    if (!inflater.ready) {
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return UNZIP_ERROR_MORE_HEAP_MEMORY;
        inflater.ready = true;
    } else {
        inflateReset(&z);
    }
    unsigned char spare;
    std::uint64_t inLeft = length, outDone = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0 && inLeft > 0) {
            z.next_in = const_cast<Bytef*>(in + (length - inLeft));
            z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(inLeft, 1u << 30));
            inLeft -= z.avail_in;
        }
        if (outDone < m.size) {
            z.next_out = buffer + outDone;
            z.avail_out = static_cast<uInt>(std::min<std::uint64_t>(m.size - outDone, 1u << 30));
        } else {
            z.next_out = &spare; // data beyond the recorded size goes nowhere
            z.avail_out = 1;
        }
        const uInt before = z.avail_out, inBefore = z.avail_in;
        // Z_FINISH: a member that ends within this call is inflated straight
        // into the buffer, without a copy into inflate's window. It answers
        // Z_BUF_ERROR also after progress; only no progress at all ends the
        // loop, as it would without Z_FINISH.
        status = inflate(&z, Z_FINISH);
        const uInt made = before - z.avail_out;
        if (status == Z_BUF_ERROR && (made > 0 || z.avail_in != inBefore))
            status = Z_OK;
        if (outDone >= m.size && made > 0) {
            z.avail_in = 0;
            return UNZIP_ERROR_HEADER_BROKEN; // longer than recorded
        }
        outDone += made;
    }
    z.avail_in = 0;
    if (status == Z_DATA_ERROR || status == Z_NEED_DICT || status == Z_STREAM_ERROR)
        return UNZIP_ERROR_HUFFMAN_CODE;
    if (status == Z_MEM_ERROR)
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    if (status != Z_STREAM_END)
        return UNZIP_ERROR_HUFFMAN_CODE; // cut short
    if (outDone != m.size)
        return UNZIP_ERROR_HEADER_BROKEN;
    return CheckCrc(m, buffer);
}

// The traditional PKWARE encryption: three keys, stirred with CRC-32 by
// every byte of the password and then of the plain data, give the byte that
// each data byte is combined with.
class TraditionalKeys {
public:
    explicit TraditionalKeys(const char* password)
    {
        for (; *password; ++password)
            Update(k_, static_cast<unsigned char>(*password));
    }
    void Decrypt(const unsigned char* in, unsigned char* out, std::size_t length)
    {
        // The keys stay in registers: a store through `out` could otherwise
        // be taken for a change of them.
        Keys k = k_;
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint32_t t = (k.k2 & 0xFFFF) | 2;
            const auto c = static_cast<unsigned char>(in[i] ^ ((t * (t ^ 1)) >> 8));
            Update(k, c);
            out[i] = c;
        }
        k_ = k;
    }

private:
    struct Keys {
        std::uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    };
    static void Update(Keys& k, unsigned char c)
    {
        k.k0 = Crc(k.k0, c);
        k.k1 = (k.k1 + (k.k0 & 0xFF)) * 134775813u + 1;
        k.k2 = Crc(k.k2, static_cast<unsigned char>(k.k1 >> 24));
    }
    static std::uint32_t Crc(std::uint32_t crc, unsigned char c)
    {
        return static_cast<std::uint32_t>(kCrcTable[(crc ^ c) & 0xFF]) ^ (crc >> 8);
    }
    static inline const z_crc_t* const kCrcTable = get_crc_table();
    Keys k_;
};

// Stored and deflated data under the traditional encryption: its 12-byte
// header, decrypted, ends in a check byte, and data whose check byte does
// not match is not read. Writers take that byte from the CRC or, when they
// write the CRC after the data, from the DOS time; libzip accepts either,
// and so do we.
int DecodeTraditional(const Member& m, const unsigned char* in, const char* password, std::vector<unsigned char>& plain,
                      unsigned char* buffer)
{
    constexpr std::size_t kHeaderLength = 12;
    if (m.compressedSize < kHeaderLength)
        return UNZIP_ERROR_HEADER_BROKEN;
    TraditionalKeys keys(password);
    unsigned char header[kHeaderLength];
    keys.Decrypt(in, header, kHeaderLength);
    const unsigned char check = header[kHeaderLength - 1];
    if (check != (m.crc >> 24)) {
        std::uint16_t date = 0, time = 0;
        m.DosDateTime(date, time);
        if (check != (time >> 8))
            return UNZIP_ERROR_PASSWORD_FILE;
    }
    const std::size_t length = static_cast<std::size_t>(m.compressedSize) - kHeaderLength;
    plain.resize(length);
    keys.Decrypt(in + kHeaderLength, plain.data(), length);
    return DecodePlain(m, plain.data(), length, buffer);
}

// Stored and deflated data under WinZip's AES encryption: nothing is
// inflated before the authentication code has vouched for all of the data.
int DecodeAes(const Member& m, const unsigned char* in, const char* password, std::vector<unsigned char>& plain,
              unsigned char* buffer)
{
    std::string key = AesPassword(password);
    const auto strength = static_cast<AesStrength>(m.encryption - ZIP_EM_AES_128 + 1);
    int code = DecryptWinZipAes(strength, in, static_cast<std::size_t>(m.compressedSize), key.c_str(), plain);
    std::fill(key.begin(), key.end(), '\0');
    if (code == 0)
        code = DecodePlain(m, plain.data(), plain.size(), buffer);
    return code;
}

// Everything else (other methods) goes through libzip:
// the member's local header and data, its central directory record and an
// end record make an archive of that one member, which libzip opens without
// reading the rest of the book.
int DecodeWithLibzip(const Book& book, const Member& m, const char* password, std::vector<unsigned char>& raw,
                     unsigned char* buffer)
{
    const std::size_t local = raw.size();
    if (local > 0xFFFFFFFFu)
        return UNZIP_ERROR_HEADER_BROKEN;
    raw.resize(local + m.centralLength + kEndLength);
    unsigned char* central = raw.data() + local;
    if (!ReadAt(book.Descriptor(), m.centralOffset, central, m.centralLength))
        return UNZIP_ERROR_CANNOT_READ;
    // The local header now lies at offset 0 (in the Zip64 field when the
    // record keeps the offset there).
    if (Get16(central + 42) == 0xFFFF && Get16(central + 44) == 0xFFFF) {
        const std::size_t nameLength = Get16(central + 28), extraLength = Get16(central + 30);
        std::size_t at = kCentralLength + nameLength;
        const std::size_t extraEnd = at + extraLength;
        while (at + 4 <= extraEnd && Get16(central + at) != 0x0001)
            at += 4 + Get16(central + at + 2);
        std::size_t skip = 0;
        for (std::size_t field : {24u, 20u})
            if (Get16(central + field) == 0xFFFF && Get16(central + field + 2) == 0xFFFF)
                skip += 8;
        if (at + 4 + skip + 8 > extraEnd)
            return UNZIP_ERROR_HEADER_BROKEN;
        std::memset(central + at + 4 + skip, 0, 8);
    } else {
        Poke(central + 42, 0, 4);
    }
    unsigned char* end = central + m.centralLength;
    std::memset(end, 0, kEndLength);
    Poke(end, 0x06054b50, 4);
    end[8] = end[10] = 1;
    Poke(end + 12, m.centralLength, 4);
    Poke(end + 16, static_cast<std::uint32_t>(local), 4);

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(raw.data(), raw.size(), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!archive) {
        if (source)
            zip_source_free(source);
        const int code = CodeForOpenError(zip_error_code_zip(&error));
        zip_error_fini(&error);
        return code;
    }
    zip_error_fini(&error);

    zip_file_t* file = password ? zip_fopen_index_encrypted(archive, 0, 0, password) : zip_fopen_index(archive, 0, 0);
    int code = 0;
    if (!file) {
        code = CodeForReadError(zip_error_code_zip(zip_get_error(archive)));
    } else {
        std::uint64_t done = 0;
        while (code == 0 && done < m.size) {
            const zip_int64_t n = zip_fread(file, buffer + done, m.size - done);
            if (n < 0)
                code = CodeForReadError(zip_error_code_zip(zip_file_get_error(file)));
            else if (n == 0)
                code = UNZIP_ERROR_HEADER_BROKEN; // shorter than recorded
            else
                done += static_cast<std::uint64_t>(n);
        }
        if (code == 0) {
            // Reading on to the end lets libzip compare the CRC; data beyond
            // the recorded size never reaches the caller's buffer.
            unsigned char extra;
            const zip_int64_t n = zip_fread(file, &extra, 1);
            if (n < 0)
                code = CodeForReadError(zip_error_code_zip(zip_file_get_error(file)));
            else if (n > 0)
                code = UNZIP_ERROR_HEADER_BROKEN;
        }
        const int closed = zip_fclose(file);
        if (code == 0 && closed != 0)
            code = CodeForReadError(closed);
    }
    zip_discard(archive);
    return code;
}

} // namespace

bool ReadsWithZlibAlone(const Member& m)
{
    return (m.method == ZIP_CM_STORE || m.method == ZIP_CM_DEFLATE)
        && (!m.encrypted || m.encryption == ZIP_EM_TRAD_PKWARE || IsAes(m.encryption));
}

int ReadMemberData(const Book& book, const Member& m, const char* password, unsigned char* buffer)
{
    // Kept between calls, one of each per thread: a search reads thousands
    // of members, on several threads.
    thread_local Window window;
    thread_local std::vector<unsigned char> raw;
    int code = 0;
    try {
        const unsigned char* local = nullptr;
        std::size_t length = 0, data = 0;
        code = ReadLocal(book, m, window, local, length, data);
        if (code == 0) {
            if (ReadsWithZlibAlone(m) && !m.encrypted) {
                code = DecodePlain(m, local + data, m.compressedSize, buffer);
            } else if (ReadsWithZlibAlone(m)) {
                if (!password)
                    code = UNZIP_ERROR_PASSWORD_FILE;
                else if (IsAes(m.encryption))
                    code = DecodeAes(m, local + data, password, raw, buffer);
                else
                    code = DecodeTraditional(m, local + data, password, raw, buffer);
            } else if (IsAes(m.encryption)) {
                // Other methods under AES would reach the caller without
                // their authentication code checked.
                code = UNZIP_ERROR_METHOD;
            } else {
                raw.assign(local, local + length);
                code = DecodeWithLibzip(book, m, password, raw, buffer);
            }
        }
    } catch (const std::bad_alloc&) {
        code = UNZIP_ERROR_MORE_HEAP_MEMORY;
    }
    window.Trim();
    if (raw.capacity() > (1u << 20))
        std::vector<unsigned char>().swap(raw);
    return code;
}

} // namespace kivzip
