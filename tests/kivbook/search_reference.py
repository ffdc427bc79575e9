#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""kivbook tags and search against a plain reference over the day text.

A twelve-year book is written with zipfile, its days full of tags and words
in both widths and cases, in every field. For each search, alone and
combined, the days (and their lines) kivbook gives must be the ones this
script finds with Python's own NFKC and case folding.

    search_reference.py KIVBOOK [FOLDER]
"""
import datetime
import json
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import unicodedata
import zipfile

FIELDS = ["Schedule%d" % i for i in range(1, 12)] + ["ScheduleMemo", "Weather", "Temperature", "Diary"]
WORDS = ["晴れ", "雨", "PC", "ＰＣ", "pc", "Pc", "ｶﾒﾗ", "カメラ", "ｶﾞｲﾄﾞ", "ガイド", "散歩", "会議", "ﾊﾟﾝ", "パン",
         "…", "...", "Ⅲ", "iii", "①", "1", "㈱", "(株)", "ABC", "ａｂｃ", "カ゛", "ｶ", "ガ"]
TAGS = ["#旅行", "＃旅行", "#ｶﾒﾗ", "#カメラ", "#PC", "＃ＰＣ", "#pc", "#散歩", "#Ⅲ", "#ﾊﾟﾝ", "#a#b", "##x",
        "#雨", "＃雨", "#ｶﾞｲﾄﾞ"]
ENDS = [" ", "　", "、", "。", "，", "．", ",", ".", "!", "?", "！", "？", "「", "」", "『", "』", "（", "）",
        "(", ")", "【", "】", "[", "]", "\r\n", "", "x"]
TAG = re.compile(r"[#＃][^ \t\n\v\f\r　、。，．,.!?！？「」『』（）()【】\[\]]+")


def fold(text):
    return unicodedata.normalize("NFKC", text).casefold()


def day_record(texts):
    """A day file as the program writes it."""
    out = bytearray(b"TPF0")
    out += bytes([8]) + b"TDayBook" + bytes([0])
    for name, text in zip(FIELDS, texts):
        data = text.encode("cp932")
        if not data:
            continue
        out += bytes([len(name)]) + name.encode()
        out += (bytes([6, len(data)]) if len(data) <= 255 else bytes([12]) + struct.pack("<I", len(data))) + data
    return bytes(out + b"\0\0")


def piece(rnd):
    roll = rnd.random()
    if roll < 0.3:
        return rnd.choice(TAGS) + rnd.choice(ENDS)
    if roll < 0.35:
        return rnd.choice(["#", "＃"]) + rnd.choice(ENDS[:-1])
    return rnd.choice(WORDS) + rnd.choice(["", " ", "、", "\r\n"])


def make_days(rnd):
    days = {}
    date = datetime.date(2010, 1, 1)
    while date <= datetime.date(2021, 12, 31):
        if rnd.random() < 0.9:
            texts = []
            for name in FIELDS:
                count = rnd.choice([0, 0, 1, 2, 5]) if name != "Diary" else rnd.randint(0, 12)
                text = "".join(piece(rnd) for _ in range(count))
                if not name.endswith("Memo") and name != "Diary":
                    text = text.replace("\r\n", " ")
                texts.append(text)
            days[date.strftime("%Y%m%d")] = texts
        date += datetime.timedelta(days=1)
    return days


def shown(key):
    return "%s/%s/%s" % (key[:4], key[4:6], key[6:8])


def tags_of(text):
    return TAG.findall(text)


def reference_tags(days):
    counts, names = {}, {}
    for key in sorted(days):
        seen = set()
        for tag in tags_of(" ".join(days[key])):
            k = fold(tag)
            if k not in seen:
                seen.add(k)
                counts[k] = counts.get(k, 0) + 1
                names.setdefault(k, unicodedata.normalize("NFKC", tag))
    return sorted(({"tag": names[k], "days": n} for k, n in counts.items()),
                  key=lambda t: (-t["days"], t["tag"].encode()))


def reference_search(days, keywords=(), leave_out=(), tags=(), start=None, end=None, folded=False):
    form = fold if folded else (lambda t: t)
    words = [form(w) for w in keywords]
    left = [form(w) for w in leave_out]
    keys = [fold(t if t[:1] in "#＃" else "#" + t) for t in tags]
    hits = []
    for key in sorted(days):
        if (start and key < start) or (end and key > end):
            continue
        text = " ".join(days[key])
        compared = form(text)
        if not all(w in compared for w in words) or any(w and w in compared for w in left):
            continue
        if not all(k in {fold(t) for t in tags_of(text)} for k in keys):
            continue
        lines = []
        for field in days[key]:
            for line in field.split("\r\n"):
                if any(w and w in form(line) for w in words) or any(fold(t) in keys for t in tags_of(line)):
                    lines.append(line)
        hits.append({"date": shown(key), "lines": lines})
    return hits


def run(kivbook, *args):
    result = subprocess.run([kivbook, *args], capture_output=True, env=dict(os.environ, LANGUAGE="C", LANG="C.UTF-8"))
    if result.returncode != 0:
        sys.exit("kivbook %s: exit status %d\n%s" % (" ".join(args), result.returncode, result.stderr.decode()))
    return result.stdout.decode()


def main():
    kivbook = sys.argv[1]
    with tempfile.TemporaryDirectory(dir=sys.argv[2] if len(sys.argv) > 2 else None) as folder:
        return compare(kivbook, folder)


def compare(kivbook, folder):
    rnd = random.Random(38)
    days = make_days(rnd)
    book = os.path.join(folder, "twelve.KIV")
    with zipfile.ZipFile(book, "w", zipfile.ZIP_DEFLATED) as z:
        for key, texts in sorted(days.items()):
            z.writestr(key + ".DAY", day_record(texts))

    failures = 0

    def check(what, got, expected):
        nonlocal failures
        if got != expected:
            failures += 1
            print("DIFFERS: %s\n  kivbook:   %s\n  reference: %s" % (what, str(got)[:400], str(expected)[:400]))

    check("tags --json", json.loads(run(kivbook, "tags", book, "--json")), reference_tags(days))
    check("tags", run(kivbook, "tags", book),
          "".join("%s %d\n" % (t["tag"], t["days"]) for t in reference_tags(days)))

    searches = [
        (["PC"], {}),
        (["ｶﾒﾗ"], {"folded": True}),
        (["pc", "ガイド"], {"folded": True}),
        (["…"], {"folded": True}),
        (["iii"], {"folded": True}),
        (["ガ"], {"folded": True}),
        ([], {"start": "20150301"}),
        ([], {"end": "20100110"}),
        ([], {"start": "20180101", "end": "20180131"}),
        (["雨"], {"leave_out": ["晴れ"]}),
        (["pc"], {"leave_out": ["ｶﾒﾗ", "ABC"], "folded": True}),
        ([], {"tags": ["旅行"]}),
        ([], {"tags": ["＃ｶﾒﾗ", "#pc"]}),
        ([], {"tags": ["#a#b"]}),
        (["散歩"], {}),
        (["ﾊﾟﾝ", "1"], {"folded": True, "tags": ["雨"], "leave_out": ["(株)"], "start": "20120215",
                         "end": "20191130"}),
        (["カメラ"], {"tags": ["PC"], "start": "20110101"}),
    ]
    for keywords, options in searches:
        args = ["search", book, *keywords]
        if options.get("start"):
            args += ["--from", options["start"]]
        if options.get("end"):
            args += ["--to", options["end"]]
        for word in options.get("leave_out", []):
            args += ["--not", word]
        for tag in options.get("tags", []):
            args += ["--tag", tag]
        if options.get("folded"):
            args.append("--fold")
        expected = reference_search(days, keywords, **options)
        print("%5d days: %s" % (len(expected), " ".join(args[2:])))
        check(" ".join(args[2:]) + " --json", json.loads(run(kivbook, *args, "--json")), expected)
        plain = "".join(hit["date"] + "\n" for hit in expected) + "%d hits\n" % len(expected)
        got = re.sub(r"Days found: (\d+)\n$", r"\1 hits\n", run(kivbook, *args))
        check(" ".join(args[2:]), got, plain)
    lines = reference_search(days, ["pc"], tags=["旅行"], folded=True)
    expected = "".join(hit["date"] + "\n" + "".join("  " + line + "\n" for line in hit["lines"]) for hit in lines)
    got = run(kivbook, "search", book, "pc", "--tag", "旅行", "--fold", "--lines")
    check("--lines", got.rsplit("\n", 2)[0] + "\n", expected)
    # Nothing to search for, and a period that ends before it begins, are
    # wrong use.
    for args in [[], ["--fold"], ["--from", "2015/01/02", "--to", "2015/01/01"], ["--from", "2015/02/30"]]:
        status = subprocess.run([kivbook, "search", book, *args], capture_output=True).returncode
        check("search " + " ".join(args) + ": exit status", status, 2)
    print("%d days, %d searches, %d differ" % (len(days), len(searches) * 2 + 3, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
