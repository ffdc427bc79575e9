// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Texts compared regardless of width and case: code page 932 bytes become
// UTF-8 in Unicode's compatibility form (NFKC: ＰＣ is PC, ｶﾞ is ガ), case
// folded (PC is pc). The forms come from a table of every character the
// code page holds (FoldTable.inc, made by fold_table.py), so a folded text
// is exactly what a full normaliser gives for the same characters.
namespace kiv {

enum class FoldForm {
    Folded, // NFKC, then case folded: what the folded search compares
    Compatible // NFKC alone: how a tag is shown
};

// The text (code page 932) in that form, as UTF-8. A character the code
// page has twice (NEC and IBM rows) folds as the one character it is.
std::string FoldedText(std::string_view cp932, FoldForm form = FoldForm::Folded);

// The same, with where each byte of the result came from: origins[i] is
// the offset in cp932 of the character that gave byte i. A match of the
// bytes [a, b) of the folded text covers the bytes [origins[a],
// origins[b]) of the original (origins has one more entry: the end).
std::string FoldedText(std::string_view cp932, std::vector<std::uint32_t>& origins);

} // namespace kiv
