#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes FoldTable.inc: the folded form (NFKC, then full case folding) of
every character code page 932 holds, as the folded search compares texts,
and its NFKC form, as tags are shown.

A text folds character by character, except where a character's folded form
begins with a combining mark (the half-width sound marks): that mark goes
before the marks of a higher class that end the text folded so far and
joins the last character into one where Unicode composes the two. The table
carries what that needs, and this script proves on every character of the
code page, and on a random sample of longer texts, that the rule gives what
unicodedata gives for the whole text.

    python3 search/fold_table.py search/FoldTable.inc
"""
import random
import sys
import unicodedata


def fold(text):
    return unicodedata.normalize("NFKC", text).casefold()


def compatible(text):
    return unicodedata.normalize("NFKC", text)


def repertoire():
    chars = set()
    for byte in range(0x100):
        try:
            chars.add(bytes([byte]).decode("cp932"))
        except UnicodeDecodeError:
            pass
    for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):
        for trail in range(0x40, 0xFD):
            try:
                chars.add(bytes([lead, trail]).decode("cp932"))
            except UnicodeDecodeError:
                pass
    return sorted(c for c in chars if len(c) == 1)


def main(out_path):
    chars = repertoire()
    folds = {c: fold(c) for c in chars}
    ccc = unicodedata.combining
    # Only these may begin a folded form with a combining mark.
    leading_marks = sorted({f[0] for f in folds.values() if f and ccc(f[0])})
    marks = sorted({ch for f in folds.values() for ch in f if ccc(ch)})
    # No character starts with a character that composes with the one before.
    backward = set()
    for code in range(0x110000):
        d = unicodedata.decomposition(chr(code))
        if d and not d.startswith("<"):
            parts = d.split()
            if len(parts) == 2:
                backward.add(chr(int(parts[1], 16)))
    for c, f in folds.items():
        assert not f or ccc(f[0]) or f[0] not in backward, c
    lasts = sorted({f[-1] for f in folds.values() if f and not ccc(f[-1])})
    compositions = []
    for last in lasts:
        for mark in leading_marks:
            joined = unicodedata.normalize("NFC", last + mark)
            if len(joined) == 1:
                compositions.append((last, mark, joined))
    composed = {(a, b): c for a, b, c in compositions}

    compatibles = {c: compatible(c) for c in chars}
    assert {f[0] for f in compatibles.values() if f and ccc(f[0])} == set(leading_marks)

    def by_rule(text, folds=folds):
        out = []
        for c in text:
            f = folds[c]
            if f and ccc(f[0]):
                at = len(out)
                while at > 0 and ccc(out[at - 1]) > ccc(f[0]):
                    at -= 1
                if at > 0 and not ccc(out[at - 1]) and (out[at - 1], f[0]) in composed:
                    out[at - 1] = composed[(out[at - 1], f[0])]
                else:
                    out.insert(at, f[0])
                out.extend(f[1:])
            else:
                out.extend(f)
        return "".join(out)

    for mark_char in [c for c in chars if folds[c] and ccc(folds[c][0])]:
        for c in chars:
            assert by_rule(c + mark_char) == fold(c + mark_char), (c, mark_char)
            assert by_rule(c + mark_char, compatibles) == compatible(c + mark_char), (c, mark_char)
            for between in [c2 for c2 in chars if folds[c2] and ccc(folds[c2][-1])]:
                text = c + between + mark_char
                assert by_rule(text) == fold(text), text
                assert by_rule(text, compatibles) == compatible(text), text
    rng = random.Random(932)
    heavy = [c for c in chars if c in "ｶﾞﾟｳﾊ゛゜¨´￣Ａａカうゝヽ"]
    for _ in range(20000):
        text = "".join(rng.choice(heavy if rng.random() < 0.5 else chars) for _ in range(rng.randint(1, 12)))
        assert by_rule(text) == fold(text), text
        assert by_rule(text, compatibles) == compatible(text), text

    def c_string(text):
        return '"' + "".join("\\x%02x" % b for b in text.encode("utf-8")) + '"'

    with open(out_path, "w", encoding="utf-8") as out:
        out.write("// Made by fold_table.py from Python %s's unicodedata (Unicode %s); do not edit.\n"
                  % (sys.version.split()[0], unicodedata.unidata_version))
        out.write("// Each character of code page 932 whose folded form differs from it: the\n"
                  "// folded form, and the form before case folding (NFKC).\n")
        out.write("constexpr FoldEntry kFolds[] = {\n")
        for c in chars:
            if folds[c] != c:
                out.write("    {0x%04X, %s, %s},\n" % (ord(c), c_string(folds[c]), c_string(compatibles[c])))
        out.write("};\n")
        out.write("// The combining class of each mark a folded form holds.\n")
        out.write("constexpr MarkClass kMarkClasses[] = {\n")
        for m in marks:
            out.write("    {0x%04X, %d},\n" % (ord(m), ccc(m)))
        out.write("};\n")
        out.write("// A character and a mark that a folded form begins with, and the one they compose.\n")
        out.write("constexpr Composition kCompositions[] = {\n")
        for a, b, c in compositions:
            assert unicodedata.normalize("NFC", c) == c
            out.write("    {0x%04X, 0x%04X, 0x%04X},\n" % (ord(a), ord(b), ord(c)))
        out.write("};\n")


if __name__ == "__main__":
    main(sys.argv[1])
