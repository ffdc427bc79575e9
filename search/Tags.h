// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Tags in a day's texts: "#" or "＃" and the characters after it up to the
// first blank (a space, tab, line break or "　"), one of
// 、。，．,.!?！？「」『』（）()【】[] or the end of the text. Two tags are the
// same when their folded forms agree (＃旅行 and #旅行, #ｶﾒﾗ and #カメラ,
// #PC and #pc); a tag is shown in its compatibility form (NFKC).
namespace kiv {

struct Tag {
    std::size_t at = 0; // where it starts in the text (code page 932 bytes)
    std::size_t size = 0; // its bytes, the "#" included
    std::string written; // as written (code page 932)
    std::string shown; // UTF-8, NFKC
    std::string key; // UTF-8, folded: equal keys, same tag
};

// The tags of a text (code page 932), in order, each as often as written.
// Without `spellings` only their places and keys are filled in, which is
// all a search compares.
std::vector<Tag> TagsIn(std::string_view cp932, bool spellings = true);

// The key of a tag as a user names it (code page 932), with or without its
// "#" or "＃".
std::string TagKey(std::string_view cp932);

// How many days carry each tag of a book.
class TagCounter {
public:
    struct Count {
        std::string written; // as first written in the book (code page 932)
        std::string shown; // that spelling's NFKC form
        int days = 0;
    };
    // The tags of one day (a tag written twice counts once).
    void AddDay(const std::vector<Tag>& tags);
    // Most days first, then by the shown name.
    std::vector<Count> Counts() const;

private:
    std::map<std::string, Count> counts_; // by key
};

} // namespace kiv
