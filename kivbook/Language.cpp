// SPDX-License-Identifier: GPL-3.0-or-later
#include "Language.h"

#include <libintl.h>

#include <clocale>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unordered_map>

namespace kiv::kivbook {
namespace {

constexpr const char* kDomain = "kivbook";

bool& Japanese()
{
    static bool japanese = false;
    return japanese;
}

// The catalogue's folder: share/locale beside the folder of the executable.
std::string LocaleFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return KIV_LOCALEDIR;
    return (executable.parent_path().parent_path() / "share" / "locale").string();
}

// The catalogue read by UseJapaneseCatalogue: English to Japanese.
std::unordered_map<std::string, std::string>& Catalogue()
{
    static std::unordered_map<std::string, std::string> catalogue;
    return catalogue;
}

// The texts of a compiled catalogue (.mo): a header of 32-bit words (magic,
// revision, count, the offsets of the two tables), each table entry a
// length and an offset. Plural forms give their first (Japanese has one).
bool ReadCatalogue(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto word = [&](std::size_t at) -> std::uint32_t {
        std::uint32_t value = 0;
        if (at + 4 <= bytes.size())
            std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    if (bytes.size() < 28 || word(0) != 0x950412de)
        return false;
    const std::uint32_t count = word(8), originals = word(12), translations = word(16);
    auto text = [&](std::uint32_t table, std::uint32_t i) -> std::optional<std::string> {
        const std::uint64_t length = word(table + i * 8), offset = word(table + i * 8 + 4);
        if (offset + length > bytes.size())
            return std::nullopt;
        const std::string whole = bytes.substr(offset, length);
        return whole.substr(0, whole.find('\0'));
    };
    for (std::uint32_t i = 0; i < count && originals + i * 8 + 8 <= bytes.size(); ++i) {
        const auto english = text(originals, i);
        const auto japanese = text(translations, i);
        if (english && japanese && !english->empty())
            Catalogue()[*english] = *japanese;
    }
    return !Catalogue().empty();
}

} // namespace

bool UseJapaneseCatalogue()
{
    if (Japanese())
        return true;
    const std::string file = "/ja/LC_MESSAGES/kivbook.mo";
    for (const std::string& folder : { LocaleFolder(), std::string(KIV_LOCALE_BUILD_DIR), std::string(KIV_LOCALEDIR) })
        if (ReadCatalogue(folder + file)) {
            Japanese() = true;
            return true;
        }
    return false;
}

void SetUpLanguage()
{
    // Only the messages follow the locale: kivbook reads and writes UTF-8
    // whatever the locale's character set, and nothing else of the locale
    // may change what it prints.
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(kDomain, LocaleFolder().c_str());
    bind_textdomain_codeset(kDomain, "UTF-8");
    textdomain(kDomain);
    // The catalogue in use answers the empty text with its header; the
    // program's own texts stay Japanese only where kivbook's own are.
    const char* header = gettext("");
    Japanese() = std::strstr(header, "Language: ja\n") != nullptr;
    // The system's error texts (strerror) speak the same language: in a
    // Japanese run as UTF-8, which the C library would otherwise give in
    // the character set of the C locale (question marks); in any other run
    // in English, not in the locale's language.
    if (Japanese())
        bind_textdomain_codeset("libc", "UTF-8");
    else
        std::setlocale(LC_MESSAGES, "C");
}

bool JapaneseRun()
{
    return Japanese();
}

const char* _(const char* english)
{
    if (!Catalogue().empty()) {
        const auto found = Catalogue().find(english);
        return found == Catalogue().end() ? english : found->second.c_str();
    }
    return gettext(english);
}

const char* Plural(const char* english, const char* englishPlural, unsigned long n)
{
    if (!Catalogue().empty())
        return _(english);
    return ngettext(english, englishPlural, n);
}

std::string Fill(std::string_view pattern, const std::vector<std::string>& arguments)
{
    std::string text;
    auto argument = arguments.begin();
    std::size_t start = 0;
    for (std::size_t at = pattern.find("%s"); at != std::string_view::npos && argument != arguments.end();
         at = pattern.find("%s", start)) {
        text.append(pattern.substr(start, at - start)).append(*argument++);
        start = at + 2;
    }
    return text.append(pattern.substr(start));
}

std::string ProgramText(const std::string& japanese)
{
    if (JapaneseRun())
        return japanese;
    return EnglishOf(japanese).value_or(japanese);
}

} // namespace kiv::kivbook
