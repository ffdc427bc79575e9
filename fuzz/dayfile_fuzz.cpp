// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a day file: every input either reads or fails with one of the
// record's read errors; no crash, no leak, and no more memory taken than the
// input could hold. A day that reads also writes and reads back unchanged.
#include "Cp932.h"
#include "Error.h"
#include "MemoryStream.h"
#include "TDayBook.h"

#include <sanitizer/allocator_interface.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// Bytes taken from the heap while counting is on.
bool counting = false;
std::size_t allocated = 0;

void CountMalloc(const volatile void*, std::size_t size)
{
    if (counting)
        allocated += size;
}

void IgnoreFree(const volatile void*) { }

// Error texts, names and exception objects: what reading may take beyond
// the input itself.
constexpr std::size_t kSlack = 16384;

[[noreturn]] void Abort(const char* what, std::string_view detail)
{
    std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

bool IsUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

bool Surrounds(std::string_view text, std::string_view head, std::string_view tail)
{
    return text.size() >= head.size() + tail.size() && text.starts_with(head) && text.ends_with(tail)
        && IsUtf8(text.substr(head.size(), text.size() - head.size() - tail.size()));
}

// A name that holds a 0x00 byte cuts the error text short there, as it does
// for the message box that shows it.
bool IsCutAtNameEnd(std::string_view text, std::string_view head, std::string_view input)
{
    if (!text.starts_with(head) || !IsUtf8(text.substr(head.size())))
        return false;
    std::string name = kiv::Cp932FromUtf8(text.substr(head.size())) + '\0';
    return input.find(name) != std::string_view::npos;
}

bool IsReadError(std::string_view text, std::string_view input)
{
    constexpr std::array<std::string_view, 3> plain
        = { "不正なストリーム フォーマット", "ストリームからの読み込みエラー", "不正なプロパティの値です" };
    constexpr std::array<std::string_view, 5> causes = { "プロパティが存在しません", "不正なプロパティの値です",
        "不正なプロパティのパスです", "ビットマップイメージが不正です", "ストリームからの読み込みエラー" };
    for (auto known : plain) {
        if (text == known)
            return true;
    }
    for (auto cause : causes) {
        if (Surrounds(text, "TDayBook.", std::string(" の読み込み中のエラー : ") + std::string(cause)))
            return true;
    }
    return Surrounds(text, "クラス ", " が見つかりません") || IsCutAtNameEnd(text, "TDayBook.", input)
        || IsCutAtNameEnd(text, "クラス ", input);
}

std::vector<std::uint8_t> Written(const kiv::TDayBook& record)
{
    kiv::MemoryStream stream;
    record.Write(stream);
    return stream.Bytes();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    __sanitizer_install_malloc_and_free_hooks(CountMalloc, IgnoreFree);
    kiv::Utf8FromCp932("\x93\xfa"); // the conversion tables, built once
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kiv::MemoryStream stream(std::vector<std::uint8_t>(data, data + size));
    kiv::TDayBook record;
    bool read = true;
    allocated = 0;
    counting = true;
    try {
        record.Read(stream);
    } catch (const kiv::Error& error) {
        counting = false;
        read = false;
        if (!IsReadError(error.what(), std::string_view(reinterpret_cast<const char*>(data), size)))
            Abort("unknown read error", error.what());
    }
    counting = false;
    if (allocated > size + kSlack)
        Abort("reading took more memory than the input holds", std::to_string(allocated));
    if (!read)
        return 0;

    std::vector<std::uint8_t> file = Written(record);
    kiv::MemoryStream written(file);
    kiv::TDayBook again;
    again.Read(written);
    if (Written(again) != file)
        Abort("a day that reads does not write back", "");
    return 0;
}
