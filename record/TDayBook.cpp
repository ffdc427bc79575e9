// SPDX-License-Identifier: GPL-3.0-or-later
#include "TDayBook.h"

#include "Cp932.h"
#include "Error.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>

namespace {

using namespace kiv;

// Value tags of the day file format.
enum Tag : std::uint8_t {
    kEndOfList = 0x00,
    kInt8 = 0x02,
    kInt16 = 0x03,
    kInt32 = 0x04,
    kShortString = 0x06,
    kFalse = 0x08,
    kTrue = 0x09,
    kBinary = 0x0A,
    kLongString = 0x0C,
};

constexpr std::string_view kSignature = "TPF0";
constexpr std::string_view kClassName = "TDayBook";
constexpr std::string_view kPhotoDataName = "Photo.Data";
constexpr std::string_view kImgName = "img";

// Read errors, as the general error report shows them.
constexpr std::string_view kBadFormat = "不正なストリーム フォーマット";
constexpr std::string_view kReadError = "ストリームからの読み込みエラー";
constexpr std::string_view kUnknownProperty = "プロパティが存在しません";
constexpr std::string_view kBadValue = "不正なプロパティの値です";
constexpr std::string_view kBadPath = "不正なプロパティのパスです";
constexpr std::string_view kBadBitmap = "ビットマップイメージが不正です";
constexpr std::string_view kClassNotFound = "クラス %s が見つかりません";

// The fifteen texts in the order they are written.
constexpr std::array<std::string_view, 15> kTextNames
    = { "Schedule1", "Schedule2", "Schedule3", "Schedule4", "Schedule5", "Schedule6", "Schedule7", "Schedule8",
          "Schedule9", "Schedule10", "Schedule11", "ScheduleMemo", "Weather", "Temperature", "Diary" };

[[noreturn]] void Fail(std::string_view text)
{
    throw Error(std::string(text));
}

bool SameName(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// Names in a day file are ASCII in practice; anything else is shown as code
// page 932 so that an error text stays valid UTF-8.
std::string Printable(const std::string& name)
{
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? name : Utf8FromCp932(name);
}

void WriteByte(MemoryStream& stream, std::uint8_t byte)
{
    stream.Write(&byte, 1);
}

void WriteLittleEndian(MemoryStream& stream, std::uint32_t value, int size)
{
    std::uint8_t bytes[4];
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    stream.Write(bytes, static_cast<std::size_t>(size));
}

void WriteShortName(MemoryStream& stream, std::string_view name)
{
    auto length = std::min<std::size_t>(name.size(), 255);
    WriteByte(stream, static_cast<std::uint8_t>(length));
    stream.Write(name.data(), length);
}

// The smallest of the three integer tags that holds the value.
void WriteInteger(MemoryStream& stream, std::int32_t value)
{
    if (value >= -128 && value <= 127) {
        WriteByte(stream, kInt8);
        WriteLittleEndian(stream, static_cast<std::uint32_t>(value), 1);
    } else if (value >= -32768 && value <= 32767) {
        WriteByte(stream, kInt16);
        WriteLittleEndian(stream, static_cast<std::uint32_t>(value), 2);
    } else {
        WriteByte(stream, kInt32);
        WriteLittleEndian(stream, static_cast<std::uint32_t>(value), 4);
    }
}

void WriteString(MemoryStream& stream, const std::string& text)
{
    if (text.size() <= 255) {
        WriteByte(stream, kShortString);
        WriteByte(stream, static_cast<std::uint8_t>(text.size()));
    } else {
        WriteByte(stream, kLongString);
        WriteLittleEndian(stream, static_cast<std::uint32_t>(text.size()), 4);
    }
    stream.Write(text.data(), text.size());
}

} // namespace

namespace kiv {

const std::string& TDayBook::Schedule(int row) const
{
    if (row < 1 || row > kScheduleRows)
        throw std::out_of_range("TDayBook::Schedule: row out of range");
    return schedule_[row - 1];
}

void TDayBook::SetSchedule(int row, std::string text)
{
    if (row < 1 || row > kScheduleRows)
        throw std::out_of_range("TDayBook::SetSchedule: row out of range");
    schedule_[row - 1] = std::move(text);
}

std::string& TDayBook::Text(std::size_t index)
{
    static_assert(kTextNames.size() == kScheduleRows + 4);
    switch (index) {
    case kScheduleRows:
        return ScheduleMemo;
    case kScheduleRows + 1:
        return Weather;
    case kScheduleRows + 2:
        return Temperature;
    case kScheduleRows + 3:
        return Diary;
    default:
        return schedule_[index];
    }
}

const std::string& TDayBook::Text(std::size_t index) const
{
    return const_cast<TDayBook*>(this)->Text(index);
}

void TDayBook::Clear()
{
    for (std::size_t i = 0; i < kTextNames.size(); ++i)
        Text(i) = std::string();
    SetPhotoData(nullptr, 0, kNoPicture);
    photoBitmap_ = std::vector<std::uint8_t>();
}

void TDayBook::SetPhotoData(const void* data, std::int32_t size, std::int32_t kind)
{
    // A fresh block first: data may point into the current one.
    std::vector<std::uint8_t> block;
    if (size > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        block.assign(bytes, bytes + size);
    }
    photoData_.swap(block);
    photoSize_ = size;
    photoKind_ = kind;
}

void TDayBook::SetPhoto(const std::vector<std::uint8_t>& bmpFile)
{
    if (bmpFile.empty())
        return;
    SetPhotoData(bmpFile.data(), static_cast<std::int32_t>(bmpFile.size()), kBmp);
}

void TDayBook::ConvertPhotoBitmap()
{
    if (photoBitmap_.empty())
        return;
    // The bitmap is kept as the bytes of its BMP file, which is what the
    // payload of kind 1 holds, so it moves over unchanged.
    photoData_ = std::move(photoBitmap_);
    photoSize_ = static_cast<std::int32_t>(photoData_.size());
    photoKind_ = kBmp;
    photoBitmap_ = std::vector<std::uint8_t>();
}

void TDayBook::Write(MemoryStream& stream) const
{
    stream.Write(kSignature.data(), kSignature.size());
    WriteShortName(stream, kClassName);
    WriteShortName(stream, ""); // the component name
    for (std::size_t i = 0; i < kTextNames.size(); ++i) {
        if (Text(i).empty())
            continue;
        WriteShortName(stream, kTextNames[i]);
        WriteString(stream, Text(i));
    }
    if (!photoBitmap_.empty()) {
        // Binary content: the BMP file's length, then the file.
        WriteShortName(stream, kPhotoDataName);
        WriteByte(stream, kBinary);
        WriteLittleEndian(stream, static_cast<std::uint32_t>(photoBitmap_.size() + 4), 4);
        WriteLittleEndian(stream, static_cast<std::uint32_t>(photoBitmap_.size()), 4);
        stream.Write(photoBitmap_.data(), photoBitmap_.size());
    }
    if (photoSize_ > 0) {
        WriteShortName(stream, kImgName);
        WriteByte(stream, kTrue);
        WriteInteger(stream, photoSize_);
        WriteInteger(stream, photoKind_);
        stream.Write(photoData_.data(), photoData_.size());
    }
    WriteByte(stream, kEndOfList); // properties
    WriteByte(stream, kEndOfList); // owned components
}

// Reads one day file into a record. Every size field is checked against
// what is left of the stream before anything is allocated for it, so a
// damaged file costs no more memory than its own length.
class DayFileReader {
public:
    DayFileReader(MemoryStream& stream, TDayBook& record)
        : stream_(stream)
        , record_(record)
    {
    }

    void Read()
    {
        if (Bytes(kSignature.size()) != kSignature)
            Fail(kBadFormat);
        SkipFlags();
        ShortName(); // the class name, not checked
        ShortName(); // the component name, of no use to the record
        while (Peek() != kEndOfList) {
            // A name cut short is a plain read error; errors after the name
            // carry it.
            std::string name = ShortName();
            try {
                Property(name);
            } catch (const Error& error) {
                // The record's component name is empty, so the class name
                // stands in for it.
                throw Error(
                    std::string(kClassName) + "." + Printable(name) + " の読み込み中のエラー : " + error.what());
            }
        }
        Byte();
        // The list of owned components must be empty; anything else is the
        // start of a component of a class that no reader knows.
        if (Peek() != kEndOfList) {
            SkipFlags();
            throw Error(Format(std::string(kClassNotFound), Printable(ShortName())));
        }
        Byte();
        // Anything after the two list ends is not read.
    }

private:
    void Property(const std::string& path)
    {
        // A path "A.B" names property B of the object held by property A;
        // of the record's properties only Photo holds an object.
        std::string_view name = path;
        bool onPhoto = false;
        for (auto dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.')) {
            std::string_view part = name.substr(0, dot);
            if (onPhoto || !IsProperty(part))
                Fail(kUnknownProperty); // the bitmap has no property that a path could pass
            if (!SameName(part, "Photo"))
                Fail(kBadPath); // a property that holds no object
            onPhoto = true;
            name.remove_prefix(dot + 1);
        }

        if (onPhoto) {
            if (!SameName(name, "Data"))
                Fail(kUnknownProperty);
            PhotoDataValue();
            return;
        }
        for (std::size_t i = 0; i < kTextNames.size(); ++i) {
            if (SameName(name, kTextNames[i])) {
                record_.Text(i) = String();
                return;
            }
        }
        if (SameName(name, kImgName))
            ImgValue();
        else if (SameName(name, "Tag") || SameName(name, "Left") || SameName(name, "Top"))
            Integer();
        else if (SameName(name, "Name"))
            String(); // a component name, of no use to the record
        else if (SameName(name, "Photo"))
            Fail(kBadValue); // an object, which a day file cannot give as a value
        else
            Fail(kUnknownProperty);
    }

    // The record's properties proper, which a path may pass through.
    static bool IsProperty(std::string_view name)
    {
        return SameName(name, "Photo") || SameName(name, "Name") || SameName(name, "Tag")
            || std::any_of(kTextNames.begin(), kTextNames.end(), [&](auto text) { return SameName(name, text); });
    }

    void ImgValue()
    {
        if (Byte() != kTrue)
            return; // no picture; the fields stay as they are
        std::int32_t size = Integer();
        std::int32_t kind = Integer();
        if (size < 0)
            Fail(kBadValue);
        // The picture is taken only when all of it is there, so that a file
        // cut short leaves the picture fields as they were.
        std::string_view bytes = Bytes(static_cast<std::size_t>(size));
        record_.SetPhotoData(bytes.data(), size, kind);
    }

    void PhotoDataValue()
    {
        if (Byte() != kBinary)
            Fail(kBadValue);
        // The binary content: the BMP file's length, then the file; anything
        // after the file is of no use.
        std::size_t contentSize = Size();
        if (contentSize < 4 || Remaining() < contentSize)
            Fail(kReadError);
        std::size_t end = Position() + contentSize;
        std::size_t fileSize = Size();
        if (fileSize > contentSize - 4)
            Fail(kReadError);
        std::string_view file = Bytes(fileSize);
        if (!file.empty() && !file.starts_with("BM"))
            Fail(kBadBitmap);
        record_.photoBitmap_.assign(file.begin(), file.end());
        stream_.SetPosition(end);
    }

    std::size_t Position() const { return stream_.Position(); }
    std::size_t Remaining() const { return stream_.Remaining(); }

    std::uint8_t Peek() const
    {
        if (Remaining() == 0)
            Fail(kReadError);
        return stream_.Data()[Position()];
    }

    std::uint8_t Byte()
    {
        std::uint8_t byte = Peek();
        stream_.SetPosition(Position() + 1);
        return byte;
    }

    // Takes size bytes, which must all be there.
    std::string_view Bytes(std::size_t size)
    {
        if (Remaining() < size)
            Fail(kReadError);
        std::string_view bytes(reinterpret_cast<const char*>(stream_.Data()) + Position(), size);
        stream_.SetPosition(Position() + size);
        return bytes;
    }

    std::uint32_t LittleEndian(std::size_t size)
    {
        std::string_view bytes = Bytes(size);
        std::uint32_t value = 0;
        for (std::size_t i = size; i-- > 0;)
            value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
        return value;
    }

    // A 4-byte size field; a negative size is an invalid value.
    std::size_t Size()
    {
        auto size = static_cast<std::int32_t>(LittleEndian(4));
        if (size < 0)
            Fail(kBadValue);
        return static_cast<std::size_t>(size);
    }

    std::string ShortName()
    {
        std::size_t length = Byte();
        return std::string(Bytes(length));
    }

    // An integer value of any width, sign-extended to 32 bits.
    std::int32_t Integer()
    {
        switch (Byte()) {
        case kInt8:
            return static_cast<std::int8_t>(LittleEndian(1));
        case kInt16:
            return static_cast<std::int16_t>(LittleEndian(2));
        case kInt32:
            return static_cast<std::int32_t>(LittleEndian(4));
        default:
            Fail(kBadValue);
        }
    }

    std::string String()
    {
        switch (Byte()) {
        case kShortString:
            return std::string(Bytes(Byte()));
        case kLongString:
            return std::string(Bytes(Size()));
        default:
            Fail(kBadValue);
        }
    }

    // The flags byte that may come before a class name; the record has no
    // use for it or for the position that may follow it.
    void SkipFlags()
    {
        constexpr std::uint8_t kHasPosition = 0x02;
        if (Peek() < 0xF0)
            return;
        if (Byte() & kHasPosition)
            Integer();
    }

    MemoryStream& stream_;
    TDayBook& record_;
};

void TDayBook::Read(MemoryStream& stream)
{
    DayFileReader(stream, *this).Read();
}

} // namespace kiv
