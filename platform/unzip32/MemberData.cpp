// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemberData.h"

#include "AesPassword.h"
#include "WinZipAes.h"
#include "ZipFormat.h"
#include "unzip32.h"

#ifdef KIV_LIBLZMA_SONAME
#include "OnDemand.h"
#endif

#include <lzma.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace kivzip {

namespace {

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

// Members whose stored data are larger than this are read from the file a
// piece at a time, straight into the caller's buffer, not through the
// window: the largest member then costs its own size once.
constexpr std::size_t kPiece = 1024 * 1024;

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

int CheckCrc(const Member& m, const unsigned char* buffer)
{
    // AES members in the AE-2 form record no CRC (0): their authentication
    // code has vouched for the data. AE-1 records it, and it is compared.
    if (IsAes(m.encryption) && m.crc == 0)
        return 0;
    const uLong crc = crc32_z(crc32(0, Z_NULL, 0), buffer, static_cast<std::size_t>(m.size));
    return static_cast<std::uint32_t>(crc) == m.crc ? 0 : UNZIP_ERROR_FILE_CRC;
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
    std::size_t centralLength = m.centralLength;
    if (centralLength == 0) {
        // A member found by its local header alone: its record is made from
        // that header, with the CRC and sizes found for it.
        LocalHeader h;
        if (!ReadLocalHeader(raw.data(), local, h) || m.size > kUnknown32 || m.compressedSize > kUnknown32)
            return UNZIP_ERROR_HEADER_BROKEN;
        MemberHeader record;
        record.versionMadeBy = record.versionNeeded = h.versionNeeded;
        record.flags = h.flags;
        record.method = h.method;
        record.time = h.time;
        record.date = h.date;
        record.crc = m.crc;
        record.compressedSize = static_cast<std::uint32_t>(m.compressedSize);
        record.size = static_cast<std::uint32_t>(m.size);
        const std::string name(h.name), extra(h.extra);
        record.name = name;
        record.centralExtra = extra;
        PutCentralRecord(raw, record);
        centralLength = raw.size() - local;
        raw.resize(local + centralLength + kEndSize);
    } else {
        raw.resize(local + centralLength + kEndSize);
        if (!ReadAt(book.Descriptor(), m.centralOffset, raw.data() + local, centralLength))
            return UNZIP_ERROR_CANNOT_READ;
    }
    unsigned char* central = raw.data() + local;
    // The local header now lies at offset 0 (in the Zip64 field when the
    // record keeps the offset there).
    CentralRecord record;
    if (!ReadCentralRecord(central, centralLength, record))
        return UNZIP_ERROR_HEADER_BROKEN;
    Poke(central + record.offsetAt, 0, record.offsetWidth);
    unsigned char* end = central + centralLength;
    std::memset(end, 0, kEndSize);
    Poke(end, kEndSignature, 4);
    end[8] = end[10] = 1;
    Poke(end + 12, static_cast<std::uint32_t>(centralLength), 4);
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

// The part of the book read last, kept from one member to the next.
class MemberReader::Window {
public:
    // The bytes of the book at [offset, offset + length), fewer where the
    // book ends first; null when reading fails.
    const unsigned char* Get(const Book& book, std::uint64_t offset, std::size_t length, std::size_t& available)
    {
        const std::uint64_t fileSize = static_cast<std::uint64_t>(book.Key().size);
        if (offset >= fileSize) {
            available = 0;
            return nullptr;
        }
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

// Where a member's local header was found, and what it records.
struct MemberReader::Located {
    std::uint64_t dataAt = 0;
    LocalHeader header; // its name and extra field are not kept
    // Not where the directory says: found by a walk through the book.
    bool walked = false;
    // At the directory's place, but under another name that no header of
    // the member's own name replaces: the data decide by the directory's
    // CRC whether they are the member's (its local name damaged).
    bool misnamed = false;
};

// A member's data, a piece at a time.
class Pieces {
public:
    virtual ~Pieces() = default;
    // The next piece; false at the end, or with Error() when reading failed.
    virtual bool Next(const unsigned char*& piece, std::size_t& length) = 0;
    virtual int Error() const = 0;
};

namespace {

// The stored data: from the window when they are small, else read from the
// file into chunk.
class DataPieces final : public Pieces {
public:
    DataPieces(const Book& book, std::uint64_t at, std::uint64_t length, std::vector<unsigned char>& chunk,
        const unsigned char* inWindow)
        : book_(book), at_(at), left_(length), chunk_(chunk), inWindow_(inWindow)
    {
    }
    bool Next(const unsigned char*& piece, std::size_t& length) override
    {
        if (left_ == 0)
            return false;
        if (inWindow_) {
            piece = inWindow_;
            length = static_cast<std::size_t>(left_);
            left_ = 0;
            return true;
        }
        length = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kPiece));
        chunk_.resize(length);
        if (!ReadAt(book_.Descriptor(), at_, chunk_.data(), length)) {
            error_ = UNZIP_ERROR_CANNOT_READ;
            left_ = 0;
            return false;
        }
        piece = chunk_.data();
        at_ += length;
        left_ -= length;
        return true;
    }
    int Error() const override { return error_; }

private:
    const Book& book_;
    std::uint64_t at_, left_;
    std::vector<unsigned char>& chunk_;
    const unsigned char* inWindow_;
    int error_ = 0;
};

// Data under the traditional encryption, decrypted as they come; its
// 12-byte header is read by Start.
class DecryptedPieces final : public Pieces {
public:
    DecryptedPieces(Pieces& in, const char* password) : in_(in), keys_(password) {}
    ~DecryptedPieces() override { std::fill(plain_.begin(), plain_.end(), 0); }

    // The header's last byte, which checks the password; false when the
    // data end before the header does.
    bool Start(unsigned char& check)
    {
        unsigned char header[kHeaderLength];
        std::size_t got = 0;
        while (got < kHeaderLength) {
            if (first_ == 0 && !in_.Next(piece_, first_))
                return false;
            const std::size_t n = std::min(first_, kHeaderLength - got);
            keys_.Decrypt(piece_, header + got, n);
            got += n;
            piece_ += n;
            first_ -= n;
        }
        check = header[kHeaderLength - 1];
        return true;
    }
    bool Next(const unsigned char*& piece, std::size_t& length) override
    {
        if (first_ == 0 && !in_.Next(piece_, first_))
            return false;
        length = first_;
        // The buffer only grows, and what it held is wiped before it is
        // given back: no plain text is freed as it is.
        if (length > plain_.size()) {
            std::fill(plain_.begin(), plain_.end(), 0);
            plain_.assign(length, 0);
        }
        keys_.Decrypt(piece_, plain_.data(), length);
        piece = plain_.data();
        first_ = 0;
        return true;
    }
    int Error() const override { return in_.Error(); }

    static constexpr std::size_t kHeaderLength = 12;

private:
    Pieces& in_;
    TraditionalKeys keys_;
    const unsigned char* piece_ = nullptr;
    std::size_t first_ = 0; // left of the piece read last
    std::vector<unsigned char> plain_;
};

} // namespace

bool ReadsWithoutLibzip(const Member& m)
{
    return (m.method == ZIP_CM_STORE || m.method == ZIP_CM_DEFLATE || m.method == kLzma)
        && (!m.encrypted || m.encryption == ZIP_EM_TRAD_PKWARE || IsAes(m.encryption));
}

namespace {

// LZMA as ZIP stores it: the version of the LZMA SDK that wrote it (2
// bytes), the length of the properties (2 bytes, 5), the properties, then
// the raw stream, with or without its end marker. Never more than the
// recorded size is made, and the dictionary is no larger than that.
int DecodeLzma(const Member& m, Pieces& in, unsigned char* buffer)
{
#ifdef KIV_LIBLZMA_SONAME
    static const bool loads = [] {
        std::string why;
        return kiv::ondemand::Loads(KIV_LIBLZMA_SONAME, why);
    }();
    if (!loads)
        return UNZIP_ERROR_METHOD;
#endif
    constexpr std::size_t kHeader = 9;
    unsigned char header[kHeader];
    std::size_t have = 0;
    const unsigned char* piece = nullptr;
    std::size_t left = 0;
    while (have < kHeader && (left > 0 || in.Next(piece, left))) {
        const std::size_t take = std::min(kHeader - have, left);
        std::memcpy(header + have, piece, take);
        have += take;
        piece += take;
        left -= take;
    }
    if (have < kHeader || Get16(header + 2) != 5)
        return in.Error() ? in.Error() : UNZIP_ERROR_HEADER_BROKEN;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, header + 4, 5) != LZMA_OK)
        return UNZIP_ERROR_HEADER_BROKEN;
    auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
    // A dictionary larger than the member is never used; one recorded below
    // the smallest liblzma takes is raised to it.
    options->dict_size = static_cast<std::uint32_t>(std::max<std::uint64_t>(
        LZMA_DICT_SIZE_MIN, std::min<std::uint64_t>(m.size, options->dict_size)));
    lzma_stream z = LZMA_STREAM_INIT;
    lzma_ret status = lzma_raw_decoder(&z, filters);
    std::free(options);
    if (status != LZMA_OK) {
        lzma_end(&z);
        return status == LZMA_MEM_ERROR ? UNZIP_ERROR_MORE_HEAP_MEMORY : UNZIP_ERROR_HEADER_BROKEN;
    }
    z.next_out = buffer;
    z.avail_out = static_cast<std::size_t>(m.size);
    while (status == LZMA_OK && z.avail_out > 0) {
        if (left == 0 && !in.Next(piece, left))
            break;
        z.next_in = piece;
        z.avail_in = left;
        status = lzma_code(&z, LZMA_RUN);
        piece += left - z.avail_in;
        left = z.avail_in;
    }
    const std::size_t made = static_cast<std::size_t>(m.size) - z.avail_out;
    lzma_end(&z);
    if (in.Error())
        return in.Error();
    if (status == LZMA_MEM_ERROR)
        return UNZIP_ERROR_MORE_HEAP_MEMORY;
    if ((status != LZMA_OK && status != LZMA_STREAM_END) || made != m.size)
        return UNZIP_ERROR_HUFFMAN_CODE; // damaged, or cut short
    return CheckCrc(m, buffer);
}

} // namespace

MemberReader::MemberReader() : window_(std::make_unique<Window>()) {}

MemberReader::~MemberReader()
{
    if (inflating_)
        inflateEnd(&z_);
}

void MemberReader::Trim()
{
    window_->Trim();
    if (raw_.capacity() > (1u << 20))
        std::vector<unsigned char>().swap(raw_);
    if (plain_.capacity() > (1u << 20))
        std::vector<unsigned char>().swap(plain_);
}

namespace {

// Whether of a member's two names, the directory's and its local header's,
// the local one is the damaged one: it holds a control or non-ASCII byte
// where the directory's is plain, or it breaks the order of the
// directory's names where the directory's keeps it. When that cannot be
// told the member is not read: its data might be shown under a name that
// is not theirs.
bool LocalNameDamaged(const Book& book, const Member& m, std::string_view local)
{
    auto plain = [](std::string_view name) {
        return std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    };
    if (plain(m.name) != plain(local))
        return plain(m.name);
    const std::vector<Member>& members = book.Members();
    const std::size_t index = static_cast<std::size_t>(&m - members.data());
    if (index >= members.size())
        return false;
    const std::string_view before = index > 0 ? std::string_view(members[index - 1].name) : std::string_view();
    const std::string_view after
        = index + 1 < members.size() ? std::string_view(members[index + 1].name) : std::string_view();
    auto inOrder = [&](std::string_view name) {
        return (before.empty() || before < name) && (after.empty() || name < after);
    };
    return inOrder(m.name) && !inOrder(local);
}

} // namespace

int MemberReader::Locate(const Book& book, const Member& m, Located& where)
{
    // Where bytes before or inside the archive moved the members, a local
    // header lies at its recorded offset plus the shift; members before
    // bytes inserted inside lie where they were.
    // When neither place holds it (damaged offsets, bytes inserted inside a
    // member), the local header of its name that a walk through the book
    // finds: its data are still checked against the directory's record.
    std::uint64_t candidates[3] = {m.localOffset, m.localOffset, Book::kNowhere};
    const std::int64_t shift = book.Shift();
    if (shift != 0 && (shift > 0 || static_cast<std::uint64_t>(-shift) <= m.localOffset))
        candidates[0] = m.localOffset + static_cast<std::uint64_t>(shift);
    Located misnamed;
    std::string misnamedAs;
    for (std::size_t i = 0; i < 3; ++i) {
        if (i == 2 && !m.nameFromExtra)
            candidates[2] = book.FoundLocalHeader(m.name);
        const std::uint64_t at = candidates[i];
        if (at == Book::kNowhere)
            continue;
        std::size_t available = 0;
        const unsigned char* local = window_->Get(book, at, kLocalSize + kLocalGuess, available);
        LocalHeader h;
        if (!local || !ReadLocalHeaderStart(local, available, h))
            continue;
        if (h.length > available && !(local = window_->Get(book, at, h.length, available)))
            continue;
        if (!ReadLocalHeader(local, available, h))
            continue;
        const bool sameName = m.nameFromExtra || h.name == m.name;
        if (!sameName && i < 2 && !misnamed.misnamed)
            misnamedAs.assign(h.name);
        h.name = h.extra = std::string_view();
        // A header of another name is another member's: its data would be
        // shown as this one's. Only when no header of this name is found is
        // it tried, its data checked against this member's CRC.
        if (!sameName) {
            if (i < 2 && !misnamed.misnamed) {
                misnamed.dataAt = at + h.length;
                misnamed.header = h;
                misnamed.misnamed = true;
            }
            continue;
        }
        where.dataAt = at + h.length;
        where.header = h;
        where.walked = i == 2;
        return 0;
    }
    if (!misnamed.misnamed || !LocalNameDamaged(book, m, misnamedAs))
        return UNZIP_ERROR_HEADER_BROKEN;
    where = misnamed;
    return 0;
}

int MemberReader::Inflate(const Member& m, Pieces& in, unsigned char* buffer)
{
    if (!inflating_) {
        if (inflateInit2(&z_, -MAX_WBITS) != Z_OK)
            return UNZIP_ERROR_MORE_HEAP_MEMORY;
        inflating_ = true;
    } else {
        inflateReset(&z_);
    }
    z_stream& z = z_;
    unsigned char spare;
    std::uint64_t outDone = 0;
    int status = Z_OK;
    bool inputEnded = false;
    const unsigned char* piece = nullptr;
    std::size_t pieceLeft = 0;
    while (status == Z_OK) {
        if (z.avail_in == 0 && pieceLeft == 0 && !inputEnded && !in.Next(piece, pieceLeft))
            inputEnded = true;
        if (z.avail_in == 0 && pieceLeft > 0) {
            z.next_in = const_cast<Bytef*>(piece);
            z.avail_in = static_cast<uInt>(std::min<std::size_t>(pieceLeft, 1u << 30));
            piece += z.avail_in;
            pieceLeft -= z.avail_in;
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
        if (status == Z_BUF_ERROR && (made > 0 || z.avail_in != inBefore || (z.avail_in == 0 && !inputEnded)))
            status = Z_OK;
        if (outDone >= m.size && made > 0) {
            z.avail_in = 0;
            return UNZIP_ERROR_HEADER_BROKEN; // longer than recorded
        }
        outDone += made;
    }
    z.avail_in = 0;
    if (in.Error())
        return in.Error();
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

int MemberReader::Decode(const Book& book, const Member& m, const Located& where, const char* password,
    unsigned char* buffer)
{
    // Deflate never grows data by more than a few bytes per block; a stored
    // size far beyond that is a damaged header, and no memory is taken for it.
    if (m.compressedSize > m.size + m.size / 8 + 1024)
        return UNZIP_ERROR_HEADER_BROKEN;
    const std::uint64_t fileSize = static_cast<std::uint64_t>(book.Key().size);
    if (!Fits(where.dataAt, m.compressedSize, fileSize))
        return UNZIP_ERROR_HEADER_BROKEN;
    const unsigned char* inWindow = nullptr;
    if (m.compressedSize <= kPiece) {
        std::size_t available = 0;
        inWindow = window_->Get(book, where.dataAt, static_cast<std::size_t>(m.compressedSize), available);
        if (!inWindow && m.compressedSize > 0)
            return UNZIP_ERROR_CANNOT_READ;
    }
    if (!ReadsWithoutLibzip(m)) {
        // Other methods under AES would reach the caller without their
        // authentication code checked.
        if (m.encrypted && IsAes(m.encryption))
            return UNZIP_ERROR_METHOD;
        // Other methods: libzip reads an archive made of the member's local
        // header, data and directory record, when it supports them (libzip
        // 1.7 leaks a little when it refuses one).
        if (!zip_compression_method_supported(m.method, 0)
            || (m.encrypted && !zip_encryption_method_supported(m.encryption, 0)))
            return UNZIP_ERROR_METHOD;
        const std::uint64_t headerAt = where.dataAt - where.header.length;
        raw_.resize(static_cast<std::size_t>(where.header.length + m.compressedSize));
        if (!ReadAt(book.Descriptor(), headerAt, raw_.data(), raw_.size()))
            return UNZIP_ERROR_CANNOT_READ;
        return DecodeWithLibzip(book, m, password, raw_, buffer);
    }
    if (m.encrypted && IsAes(m.encryption)) {
        if (!password)
            return UNZIP_ERROR_PASSWORD_FILE;
        return DecodeAes(book, m, where, inWindow, password, buffer);
    }
    DataPieces pieces(book, where.dataAt, m.compressedSize, raw_, inWindow);
    if (!m.encrypted)
        return DecodePlain(m, pieces, buffer);
    // The traditional encryption: the header, decrypted, ends in a check
    // byte, and data whose check byte does not match are not read. Writers
    // take that byte from the CRC or, when they write the CRC after the
    // data, from the DOS time as recorded (in the local header).
    if (!password)
        return UNZIP_ERROR_PASSWORD_FILE;
    if (m.compressedSize < DecryptedPieces::kHeaderLength)
        return UNZIP_ERROR_HEADER_BROKEN;
    DecryptedPieces decrypted(pieces, password);
    unsigned char check = 0;
    if (!decrypted.Start(check))
        return pieces.Error() ? pieces.Error() : UNZIP_ERROR_HEADER_BROKEN;
    if (!TraditionalCheckMatches(check, m.crc, m.rawDosTime) && !TraditionalCheckMatches(check, m.crc, where.header.time))
        return UNZIP_ERROR_PASSWORD_FILE;
    Member data = m;
    data.compressedSize -= DecryptedPieces::kHeaderLength;
    return DecodePlain(data, decrypted, buffer);
}

int MemberReader::DecodeAes(const Book& book, const Member& m, const Located& where, const unsigned char* inWindow,
    const char* password, unsigned char* buffer)
{
    // Stored and deflated data under WinZip's AES encryption: nothing is
    // inflated before the authentication code has vouched for all of the
    // data, so they are read whole.
    if (!inWindow) {
        raw_.resize(static_cast<std::size_t>(m.compressedSize));
        if (!ReadAt(book.Descriptor(), where.dataAt, raw_.data(), raw_.size()))
            return UNZIP_ERROR_CANNOT_READ;
        inWindow = raw_.data();
    }
    std::string key = AesPassword(password);
    const auto strength = static_cast<AesStrength>(m.encryption - ZIP_EM_AES_128 + 1);
    int code = DecryptWinZipAes(strength, inWindow, static_cast<std::size_t>(m.compressedSize), key.c_str(), plain_);
    std::fill(key.begin(), key.end(), '\0');
    if (code == 0) {
        DataPieces pieces(book, 0, plain_.size(), raw_, plain_.data());
        Member data = m;
        data.compressedSize = plain_.size();
        code = DecodePlain(data, pieces, buffer);
    }
    std::fill(plain_.begin(), plain_.end(), 0);
    return code;
}

int MemberReader::DecodePlain(const Member& m, Pieces& in, unsigned char* buffer)
{
    if (m.method == ZIP_CM_DEFLATE)
        return Inflate(m, in, buffer);
    if (m.method == kLzma)
        return DecodeLzma(m, in, buffer);
    if (m.compressedSize != m.size)
        return UNZIP_ERROR_HEADER_BROKEN;
    const unsigned char* piece = nullptr;
    std::size_t length = 0;
    for (std::uint64_t done = 0; in.Next(piece, length); done += length)
        std::memcpy(buffer + done, piece, length);
    return in.Error() ? in.Error() : CheckCrc(m, buffer);
}

namespace {

// The member as its local header has it; false when the header says nothing
// the directory does not.
bool LocalMember(const Member& m, const LocalHeader& h, Member& local, std::string& differences)
{
    if (h.method == kAesMethod)
        return false; // its method and strength are in the directory's record too
    local = m;
    local.method = h.method;
    local.encrypted = (h.flags & kFlagEncrypted) != 0;
    local.encryption = !local.encrypted ? ZIP_EM_NONE
        : (h.flags & kFlagStrongEncryption) != 0 ? ZIP_EM_UNKNOWN
                                                 : ZIP_EM_TRAD_PKWARE;
    // A header that leaves CRC and sizes to a data descriptor keeps the
    // directory's.
    if ((h.flags & kFlagDescriptor) == 0 || h.crc != 0 || h.compressedSize != 0 || h.size != 0) {
        local.crc = h.crc;
        local.compressedSize = h.compressedSize;
        local.size = h.size;
    }
    auto note = [&](bool differ, const char* field) {
        if (differ)
            differences += (differences.empty() ? "" : ", ") + std::string(field);
    };
    differences.clear();
    note(local.method != m.method, "method");
    note(local.encrypted != m.encrypted, "encryption");
    note(local.crc != m.crc, "CRC");
    note(local.compressedSize != m.compressedSize, "stored size");
    note(local.size != m.size, "size");
    return !differences.empty();
}

} // namespace

bool MemberReader::LocalView(const Book& book, const Member& m, Member& local)
{
    Located where;
    std::string differences;
    if (Locate(book, m, where) != 0 || where.misnamed)
        return false;
    if (!LocalMember(m, where.header, local, differences))
        local = m;
    return true;
}

int MemberReader::Read(const Book& book, const Member& m, const char* password, unsigned char* buffer,
    std::uint64_t capacity, std::uint64_t& written, std::string* disagreement)
{
    written = 0;
    Located where;
    if (const int located = Locate(book, m, where))
        return located;
    const int code = Decode(book, m, where, password, buffer);
    if (code == 0) {
        written = m.size;
        if (disagreement && where.walked)
            *disagreement = "the central directory's offset is wrong; it was read at its local header, found by a "
                            "walk through the book";
        else if (disagreement && where.misnamed)
            *disagreement = "its local header gives another name; the data after it check out against the central "
                            "directory's CRC";
        return 0;
    }
    // Data after another member's header that are not this member's: its
    // header is lost.
    if (where.misnamed)
        return code == UNZIP_ERROR_PASSWORD_FILE ? code : UNZIP_ERROR_HEADER_BROKEN;
    if (code == UNZIP_ERROR_PASSWORD_FILE || code == UNZIP_ERROR_CANNOT_READ || code == UNZIP_ERROR_MORE_HEAP_MEMORY)
        return code;
    // A directory field damaged while the local header and the data are
    // sound: the data decide, by their CRC.
    Member local;
    std::string differences;
    if (!LocalMember(m, where.header, local, differences) || local.size > capacity || !ReadsWithoutLibzip(local))
        return code;
    if (Decode(book, local, where, password, buffer) != 0)
        return code;
    written = local.size;
    if (disagreement)
        *disagreement = "the central directory's " + differences + " disagree" + (differences.find(',') == std::string::npos ? "s" : "")
            + " with the local header; the local header's, whose data check out, were read";
    return 0;
}

} // namespace kivzip
