// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// kivbook speaks one language per run: Japanese when the user's locale asks
// for it (LANG=ja_JP.UTF-8, or LANGUAGE=ja under another locale that is not
// C) and the Japanese catalogue is installed, English otherwise.
//
// Two kinds of text reach the user:
//  - kivbook's own texts are English in the code, wrapped in _() (Plural
//    for a count); gettext finds their translation in
//    share/locale/ja/LC_MESSAGES/kivbook.mo (from kivbook/po/ja.po).
//  - The program's own texts (the archive layer's messages, the day
//    record's errors, the search window's texts) are Japanese in the code,
//    exactly as the program's windows show them. A Japanese run prints them
//    as they are; ProgramText gives their English in any other run.
namespace kiv::kivbook {

// Takes the messages' locale from the environment and binds the catalogue
// found beside the executable (../share/locale: the build tree and every
// installed prefix alike). Call once, before the first text.
void SetUpLanguage();

// Japanese whatever the locale, for the program's windows, which speak
// nothing else: the catalogue is read from its file (beside the executable,
// else in the build tree or the installed prefix). False when none is found.
bool UseJapaneseCatalogue();

// Whether this run speaks Japanese (the Japanese catalogue is in use).
bool JapaneseRun();

// kivbook's own text in the run's language.
const char* _(const char* english);
// Marks an English text for translation where it is only named (a table's
// row); _() translates it where it is shown.
constexpr const char* N_(const char* english)
{
    return english;
}
// The form for n of a text that counts ("1 day" / "%s days").
const char* Plural(const char* english, const char* englishPlural, unsigned long n);

// The pattern with each "%s" replaced by the next argument.
std::string Fill(std::string_view pattern, const std::vector<std::string>& arguments);

// One of the program's Japanese texts as this run shows it.
std::string ProgramText(const std::string& japanese);
// Its English, when the text (or the pattern it was made from) is known.
std::optional<std::string> EnglishOf(std::string_view japanese);

} // namespace kiv::kivbook
