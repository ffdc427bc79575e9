#include "Language.h"

#include <libintl.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <system_error>

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

} // namespace

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
    return gettext(english);
}

const char* Plural(const char* english, const char* englishPlural, unsigned long n)
{
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
