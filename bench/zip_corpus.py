#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Damaged and foreign books read by kivbook and by the other ZIP tools.

    bench/zip_corpus.py KIVBOOK [--variants 2000] [--seed 1] [--jobs 2]
                                [--cache DIR] [--report FILE]

Builds books of ten days with python's zipfile, the zip tool (plain,
written to a pipe, with a stub before it), 7z (plain, traditional and
AES-256 encryption), bsdtar and kivbook itself; makes seeded damaged
variants of them; and reads every variant with kivbook (list, show, check;
then repair and the same again) and with python's zipfile, unzip, 7z and
`zip -FF`. Prints what went wrong for the days, per kind of damage and in
total:

  falsified      days shown with content that is not the day's (exit 0)
  refused        books kivbook refuses whole while a peer reads a day of them
  lost           days a peer reads right that kivbook does not show right
  worse          variants where repair leaves fewer right days than before
  behind -FF     variants where `zip -FF` recovers more right days than repair
  check missed   listed days that do not show, with check exiting 0
  crashes        signals, timeouts (20 s) and runs above 300 MB

The books and what the peers read are kept in the cache folder (by default
$XDG_CACHE_HOME/kiv-zip-corpus), so a second kivbook is measured on the very
same bytes and the peers run once. KIVBOOK is the kivbook binary, or a
script that runs it. Runs by hand; it is not part of the tests.
"""

import argparse
import collections
import hashlib
import io
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib
from concurrent.futures import ProcessPoolExecutor

PASSWORD = "kiv-corpus"
DATES = ["2024/01/%02d" % day for day in range(1, 11)]
TIMEOUT = 20
MEMORY_LIMIT_KB = 300 * 1024


def member_name(date):
    return date.replace("/", "") + ".DAY"


def date_of(name):
    stem = name[:8]
    if len(name) == 12 and name[8:].upper() == ".DAY" and stem.isdigit():
        return "%s/%s/%s" % (stem[:4], stem[4:6], stem[6:])
    return None


# --- running programs --------------------------------------------------------

class Run:
    def __init__(self, code, out, err, memory_kb, timed_out):
        self.code, self.out, self.err = code, out, err
        self.memory_kb, self.timed_out = memory_kb, timed_out

    @property
    def crashed(self):
        return self.timed_out or self.code < 0 or self.memory_kb > MEMORY_LIMIT_KB


def run(args, stdin=b"", cwd=None, env=None):
    """Runs args; the exit code (negative: the signal), output and peak memory
    (measured by GNU time: a child forked from this process would count this
    process's pages too)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, tempfile.TemporaryFile() as inp, \
            tempfile.NamedTemporaryFile("r") as memory:
        inp.write(stdin)
        inp.seek(0)
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", memory.name] + args, stdin=inp,
                                   stdout=out, stderr=err, cwd=cwd, env=env, start_new_session=True)
        deadline = time.monotonic() + TIMEOUT
        timed_out = False
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > deadline:
                os.killpg(process.pid, signal.SIGKILL)
                pid, status, usage = os.wait4(process.pid, 0)
                timed_out = True
                break
            time.sleep(0.002)
        process.returncode = 0  # reaped here, not by Popen
        code = -os.WTERMSIG(status) if os.WIFSIGNALED(status) else os.WEXITSTATUS(status)
        report = memory.read().split()
        if "signal" in report:  # "Command terminated by signal N"
            code = -int(report[report.index("signal") + 1])
        memory_kb = int(report[-1]) if report and report[-1].isdigit() else 0
        out.seek(0)
        err.seek(0)
        return Run(code, out.read(), err.read(), memory_kb, timed_out)


# --- the books ---------------------------------------------------------------

def bmp(width, height, seed):
    """A small 24-bit BMP picture with some noise, so that it compresses a little."""
    rnd = random.Random(seed)
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height):
        line = bytearray()
        for x in range(width):
            line += bytes(((x * 4 + rnd.randrange(8)) & 255, (y * 4) & 255, 128))
        pixels += line + bytes(row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def make_days(kivbook, folder):
    """The ten day files, as kivbook put writes them; name -> bytes."""
    work = tempfile.mkdtemp(dir=folder)
    book = os.path.join(work, "days.KIV")
    words = ["晴れ", "会議", "散歩", "電車", "昼食", "図書館", "雨", "友人", "夕焼け", "買い物"]
    rnd = random.Random(20240101)
    for i, date in enumerate(DATES):
        diary = os.path.join(work, "diary.txt")
        with open(diary, "w", encoding="utf-8") as f:
            f.write("".join(rnd.choice(words) + ("。\n" if rnd.random() < 0.2 else "、")
                            for _ in range(60 + 40 * i)))
        args = [kivbook, "put", book, date, "--weather", words[i], "--temperature", "%d℃" % (5 + i),
                "--diary-file", diary, "--schedule", "%d=%s" % (9 + i % 9, words[(i + 3) % 10])]
        if i in (3, 7):
            picture = os.path.join(work, "p%d.bmp" % i)
            with open(picture, "wb") as f:
                f.write(bmp(48 + 8 * i, 40, i))
            args += ["--picture", picture]
        result = run(args)
        if result.code != 0:
            sys.exit("kivbook put failed: " + result.err.decode(errors="replace"))
    with zipfile.ZipFile(book) as z:
        days = {name: z.read(name) for name in z.namelist()}
    shutil.copyfile(book, os.path.join(folder, "kivbook.KIV"))  # the book as kivbook writes it
    shutil.rmtree(work)
    return days


STUB = b"\x7fELF" + bytes(range(256)) * 16  # an executable's worth of bytes before the archive


def make_books(kivbook, folder, days):
    """Every kind of book from the same day files; kind -> path."""
    source = os.path.join(folder, "days")
    os.makedirs(source, exist_ok=True)
    stamp = time.mktime((2024, 1, 11, 21, 30, 0, 0, 0, -1))
    names = sorted(days)
    for name in names:
        path = os.path.join(source, name)
        with open(path, "wb") as f:
            f.write(days[name])
        os.utime(path, (stamp, stamp))
    books = {}

    def book(kind):
        path = os.path.join(folder, kind + ".zip")
        if os.path.exists(path):
            os.remove(path)
        books[kind] = path
        return path

    with zipfile.ZipFile(book("python"), "w", zipfile.ZIP_DEFLATED) as z:
        for name in names:
            z.write(os.path.join(source, name), name)
    subprocess.run(["zip", "-q", "-X", book("zip")] + names, cwd=source, check=True)
    with open(book("zip-pipe"), "wb") as f:
        zipper = subprocess.Popen(["zip", "-q", "-X", "-"] + names, cwd=source, stdout=subprocess.PIPE)
        shutil.copyfileobj(zipper.stdout, f)
        if zipper.wait() != 0:
            sys.exit("zip to a pipe failed")
    with open(books["zip"], "rb") as f:
        plain = f.read()
    with open(book("zip-stub"), "wb") as f:
        f.write(STUB + plain)
    seven = ["7z", "a", "-tzip", "-bd", "-bso0", "-bsp0"]
    subprocess.run(seven + [book("7z")] + names, cwd=source, check=True)
    subprocess.run(seven + ["-p" + PASSWORD, "-mem=ZipCrypto", book("7z-traditional")] + names, cwd=source,
                   check=True)
    subprocess.run(seven + ["-p" + PASSWORD, "-mem=AES256", book("7z-aes")] + names, cwd=source, check=True)
    subprocess.run(["bsdtar", "--format", "zip", "-cf", book("bsdtar")] + names, cwd=source, check=True)
    shutil.copyfile(os.path.join(folder, os.pardir, "kivbook.KIV"), book("kivbook"))
    return books


# --- the structure of a book, for aiming the damage ---------------------------

def structure(data):
    """Central records (position, length), local headers (position, header
    length, data length) and the end record's position; what can be found."""
    end = data.rfind(b"PK\x05\x06")
    centrals, locals_ = [], []
    if end >= 0 and end + 22 <= len(data):
        count, size, offset = struct.unpack("<HII", data[end + 10:end + 20])
        start = end - size
        shift = start - offset
        at = start
        while at >= 0 and data[at:at + 4] == b"PK\x01\x02" and at + 46 <= len(data):
            n, m, k = struct.unpack("<HHH", data[at + 28:at + 34])
            length = 46 + n + m + k
            centrals.append((at, length))
            csize, = struct.unpack("<I", data[at + 20:at + 24])
            local, = struct.unpack("<I", data[at + 42:at + 46])
            local += shift
            if 0 <= local < len(data) and data[local:local + 4] == b"PK\x03\x04":
                ln, lm = struct.unpack("<HH", data[local + 26:local + 30])
                locals_.append((local, 30 + ln + lm, csize))
            at += length
    return centrals, locals_, end


def field(data, at, fmt, value):
    data[at:at + struct.calcsize(fmt)] = struct.pack(fmt, value)


# Damage kinds, each (name, function(data, rnd) -> bytes or None when it does
# not apply to this book).

def flip_local(data, rnd):
    _, locals_, _ = structure(data)
    if not locals_:
        return None
    at, length, _ = rnd.choice(locals_)
    data[at + rnd.randrange(length)] ^= 1 << rnd.randrange(8)
    return data


def flip_central(data, rnd):
    centrals, _, _ = structure(data)
    if not centrals:
        return None
    at, length = rnd.choice(centrals)
    data[at + rnd.randrange(length)] ^= 1 << rnd.randrange(8)
    return data


def flip_data(data, rnd):
    _, locals_, _ = structure(data)
    if not locals_:
        return None
    at, length, size = rnd.choice(locals_)
    if size == 0:
        return None
    data[at + length + rnd.randrange(size)] ^= 1 << rnd.randrange(8)
    return data


def flip_anywhere(data, rnd):
    for _ in range(rnd.randrange(1, 4)):
        data[rnd.randrange(len(data))] = rnd.randrange(256)
    return data


def truncate(data, rnd):
    return data[:rnd.randrange(len(data) // 4, len(data))]


def lose_directory(data, rnd):
    centrals, _, _ = structure(data)
    if not centrals:
        return None
    return data[:centrals[0][0] + rnd.choice((0, 0, 7, centrals[0][1]))]


def insert(data, rnd):
    at = rnd.randrange(len(data))
    return data[:at] + bytes(rnd.randrange(256) for _ in range(rnd.choice((1, 3, 16, 200)))) + data[at:]


def prepend(data, rnd):
    return bytes(rnd.randrange(256) for _ in range(rnd.choice((1, 17, 512, 5000)))) + data


def end_field(data, rnd):
    _, _, end = structure(data)
    if end < 0:
        return None
    at, fmt = rnd.choice([(4, "<H"), (6, "<H"), (8, "<H"), (10, "<H"), (12, "<I"), (16, "<I"), (20, "<H")])
    old, = struct.unpack(fmt, data[end + at:end + at + struct.calcsize(fmt)])
    field(data, end + at, fmt, max(0, old + rnd.choice((-1, 1, 2, -7, 100))) & (0xFFFF if fmt == "<H" else 0xFFFFFFFF))
    return data


def disagree(data, rnd):
    """One field of one member changed in the local header or in the directory."""
    centrals, locals_, _ = structure(data)
    if not centrals or len(locals_) != len(centrals):
        return None
    i = rnd.randrange(len(centrals))
    central, local = centrals[i][0], locals_[i][0]
    what = rnd.choice(["name", "csize", "size", "method", "crc", "offset"])
    in_local = rnd.random() < 0.5
    if what == "offset":
        old, = struct.unpack("<I", data[central + 42:central + 46])
        field(data, central + 42, "<I", max(0, old + rnd.choice((-1, 1, 30, -30))))
        return data
    base = local if in_local else central
    shift = 0 if in_local else 2  # directory fields sit two bytes later
    if what == "name":
        at = base + (30 if in_local else 46) + rnd.randrange(8)
        data[at] = ord("0") + (data[at] - ord("0") + rnd.randrange(1, 10)) % 10
    elif what == "method":
        field(data, base + 8 + shift, "<H", rnd.choice((0, 8, 12, 14, 99)))
    else:
        at = base + {"crc": 14, "csize": 18, "size": 22}[what] + shift
        old, = struct.unpack("<I", data[at:at + 4])
        field(data, at, "<I", (old + rnd.choice((1, -1, 0x100, 0x7F))) & 0xFFFFFFFF)
    return data


def other_date(data, rnd):
    """A directory entry's name damaged into another date of the book or a new one."""
    centrals, _, _ = structure(data)
    if len(centrals) < 2:
        return None
    at, _ = rnd.choice(centrals)
    n, = struct.unpack("<H", data[at + 28:at + 30])
    if n != 12:
        return None
    day = int(data[at + 52:at + 54])
    new = rnd.choice([d for d in range(1, 29) if d != day])
    data[at + 52:at + 54] = b"%02d" % new
    return data


def offset_other(data, rnd):
    """A directory record's offset damaged into another member's local header."""
    centrals, _, _ = structure(data)
    if len(centrals) < 2:
        return None
    i, j = rnd.sample(range(len(centrals)), 2)
    data[centrals[i][0] + 42:centrals[i][0] + 46] = data[centrals[j][0] + 42:centrals[j][0] + 46]
    return data


def central_signature(data, rnd):
    """One byte of a directory record's signature flipped (not the first record's)."""
    centrals, _, _ = structure(data)
    if len(centrals) < 2:
        return None
    at, _ = rnd.choice(centrals[1:])
    data[at + rnd.randrange(4)] ^= 1 << rnd.randrange(8)
    return data


def end_count(data, rnd):
    """The end record's counts one member more or fewer."""
    _, _, end = structure(data)
    if end < 0:
        return None
    count, = struct.unpack("<H", data[end + 10:end + 12])
    new = max(0, count + rnd.choice((-1, 1)))
    field(data, end + 8, "<H", new)
    field(data, end + 10, "<H", new)
    return data


DAMAGES = [("flip-local", flip_local), ("flip-central", flip_central), ("flip-data", flip_data),
           ("flip-anywhere", flip_anywhere), ("truncate", truncate), ("lose-directory", lose_directory),
           ("insert", insert), ("prepend", prepend), ("end-field", end_field), ("disagree", disagree),
           ("other-date", other_date), ("offset-other", offset_other), ("central-signature", central_signature),
           ("end-count", end_count)]


def variants(books, count, seed):
    """(id, book kind, damage kind, bytes) for count seeded variants, and the
    undamaged books themselves."""
    kinds = sorted(books)
    originals = {}
    for kind in kinds:
        with open(books[kind], "rb") as f:
            originals[kind] = f.read()
        yield ("%s-intact" % kind, kind, "intact", originals[kind])
    made = 0
    attempt = 0
    while made < count:
        rnd = random.Random("%d-%d" % (seed, attempt))
        attempt += 1
        kind = kinds[attempt % len(kinds)]
        name, damage = DAMAGES[(attempt // len(kinds)) % len(DAMAGES)]
        data = damage(bytearray(originals[kind]), rnd)
        if data is None or bytes(data) == originals[kind]:
            continue
        made += 1
        yield ("%s-%s-%d" % (kind, name, attempt), kind, name, bytes(data))


# --- the peers -----------------------------------------------------------------

def right_days(folder, days):
    """The dates whose day file in folder holds the right bytes."""
    right = set()
    for name, content in days.items():
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                if f.read() == content:
                    right.add(date_of(name))
    return right


def python_reads(path, days):
    right = set()
    try:
        with zipfile.ZipFile(path) as z:
            for name in set(z.namelist()):
                try:
                    if name in days and z.read(name, pwd=PASSWORD.encode()) == days[name]:
                        right.add(date_of(name))
                except Exception:
                    pass
    except Exception:
        pass
    return right


def extracted_by(args, path, days):
    with tempfile.TemporaryDirectory() as out:
        run(args(path, out))
        return right_days(out, days)


def unzip_reads(path, days):
    return extracted_by(lambda p, o: ["unzip", "-o", "-qq", "-P", PASSWORD, p, "-d", o], path, days)


def sevenzip_reads(path, days):
    return extracted_by(lambda p, o: ["7z", "x", "-y", "-bd", "-p" + PASSWORD, "-o" + o, p], path, days)


def zip_ff_reads(path, days):
    """The days `zip -FF` gives back right, as python or 7z read its output."""
    with tempfile.TemporaryDirectory() as work:
        fixed = os.path.join(work, "fixed.zip")
        run(["zip", "-FF", path, "--out", fixed], stdin=b"y\n" * 20)
        if not os.path.exists(fixed):
            return set()
        return python_reads(fixed, days) | sevenzip_reads(fixed, days)


def peers(path, days):
    return {"python": sorted(python_reads(path, days)), "unzip": sorted(unzip_reads(path, days)),
            "7z": sorted(sevenzip_reads(path, days)), "zip -FF": sorted(zip_ff_reads(path, days))}


# --- kivbook ---------------------------------------------------------------------

class Kivbook:
    def __init__(self, binary, password_file):
        self.binary, self.password_file = binary, password_file
        self.crashes = []

    def __call__(self, *args):
        result = run([self.binary] + list(args))
        if result.crashed:
            self.crashes.append("%s: %s" % (" ".join(args[:1]), "timeout" if result.timed_out else
                                            "signal %d" % -result.code if result.code < 0 else
                                            "%d MB" % (result.memory_kb // 1024)))
        return result

    def reading(self, book, reference):
        """What kivbook gives back: listed dates, right days, falsified days,
        unreadable listed days check did not report, and whether list worked."""
        listing = self("list", book)
        listed = set(listing.out.decode(errors="replace").split()) if listing.code == 0 else set()
        right, falsified, unreadable = set(), set(), set()
        for date in sorted(listed | set(DATES)):
            shown = self("show", book, date, "--json", "--password-file", self.password_file)
            if shown.code != 0:
                if date in listed:
                    unreadable.add(date)
            elif reference.get(date) == shown.out:
                right.add(date)
            else:
                falsified.add(date)
        missed = set()
        if unreadable:
            check = self("check", book, "--password-file", self.password_file)
            if check.code == 0:
                missed = unreadable
            else:
                text = (check.out + check.err).decode(errors="replace").upper()
                missed = {d for d in unreadable if member_name(d).upper() not in text}
        return {"listed": listing.code == 0, "right": sorted(right), "falsified": sorted(falsified),
                "missed": sorted(missed)}


SHARED = {}


def share(binary, password_file, reference, days):
    """What every variant's measure needs, set once in each worker."""
    SHARED.update(binary=binary, password_file=password_file, reference=reference, days=days)


def measure(job):
    """One variant: kivbook before and after repair, and the peers (cached)."""
    vid, kind, damage, data, peer_cache = job
    reference, days = SHARED["reference"], SHARED["days"]
    kivbook = Kivbook(SHARED["binary"], SHARED["password_file"])
    with tempfile.TemporaryDirectory() as work:
        book = os.path.join(work, "book.KIV")
        with open(book, "wb") as f:
            f.write(data)
        peer = peer_cache or peers(book, days)
        before = kivbook.reading(book, reference)
        repair = kivbook("repair", book)
        after = kivbook.reading(book, reference) if repair.code == 0 else before
    return {"id": vid, "kind": kind, "damage": damage, "peers": peer, "before": before, "after": after,
            "repair": repair.code, "repair_output": (repair.out + repair.err).decode(errors="replace")[-2000:],
            "crashes": kivbook.crashes}


# --- the figures -----------------------------------------------------------------

def tally(results):
    rows = collections.OrderedDict()
    for r in results:
        for key in ("all", r["damage"]):
            row = rows.setdefault(key, collections.Counter())
            peer_right = set().union(*(set(v) for k, v in r["peers"].items() if k != "zip -FF"))
            before, after = r["before"], r["after"]
            row["variants"] += 1
            row["falsified"] += len(before["falsified"])
            row["falsified after repair"] += len(after["falsified"])
            row["refused"] += int(not before["listed"] and bool(peer_right))
            row["lost"] += len(peer_right - set(before["right"]))
            row["worse"] += int(len(after["right"]) < len(before["right"]))
            ff = len(r["peers"]["zip -FF"])
            row["behind -FF"] += int(ff > len(after["right"]))
            row["ahead of -FF"] += int(ff < len(after["right"]))
            row["days after repair"] += len(after["right"])
            row["days by -FF"] += ff
            row["check missed"] += len(before["missed"]) + len(after["missed"])
            row["crashes"] += len(r["crashes"])
    return rows


COLUMNS = ["variants", "falsified", "falsified after repair", "refused", "lost", "worse", "behind -FF",
           "ahead of -FF", "days after repair", "days by -FF", "check missed", "crashes"]


def print_table(rows):
    head = ["damage"] + COLUMNS
    width = [max(14, len(h)) for h in head]
    print("  ".join(h.rjust(w) for h, w in zip(head, width)))
    for key, row in rows.items():
        print("  ".join([key.rjust(width[0])] + [str(row[c]).rjust(w) for c, w in zip(COLUMNS, width[1:])]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("kivbook")
    parser.add_argument("--variants", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--cache", default=os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                                                        "kiv-zip-corpus"))
    parser.add_argument("--report", help="every variant's result as JSON lines")
    parser.add_argument("--only", help="only the variants whose id contains this")
    options = parser.parse_args()
    kivbook = os.path.abspath(options.kivbook)
    os.makedirs(options.cache, exist_ok=True)

    days_file = os.path.join(options.cache, "days.json")
    if not os.path.exists(days_file):
        days = make_days(kivbook, options.cache)
        with open(days_file, "w") as f:
            json.dump({n: c.hex() for n, c in days.items()}, f)
    with open(days_file) as f:
        days = {n: bytes.fromhex(c) for n, c in json.load(f).items()}
    books_folder = os.path.join(options.cache, "books")
    if not os.path.isdir(books_folder):
        os.makedirs(books_folder)
        make_books(kivbook, books_folder, days)
    books = {name[:-4]: os.path.join(books_folder, name) for name in os.listdir(books_folder)
             if name.endswith(".zip")}

    with tempfile.TemporaryDirectory() as work:
        password_file = os.path.join(work, "password")
        with open(password_file, "w") as f:
            f.write(PASSWORD + "\n")
        # What kivbook shows for each day, read from a book of the day files stored.
        plain = os.path.join(work, "reference.zip")
        with zipfile.ZipFile(plain, "w", zipfile.ZIP_STORED) as z:
            for name, content in days.items():
                z.writestr(name, content)
        reference = {}
        for date in DATES:
            shown = run([kivbook, "show", plain, date, "--json"])
            if shown.code != 0:
                sys.exit("kivbook cannot show %s of the reference book" % date)
            reference[date] = shown.out

        peer_file = os.path.join(options.cache, "peers-%d.json" % options.seed)
        peer_cache = {}
        if os.path.exists(peer_file):
            with open(peer_file) as f:
                peer_cache = json.load(f)
        jobs = []
        for vid, kind, damage, data in variants(books, options.variants, options.seed):
            if options.only and options.only not in vid:
                continue
            key = hashlib.sha256(data).hexdigest()
            jobs.append((vid, kind, damage, data, peer_cache.get(key)))
        started = time.monotonic()
        results = []
        with ProcessPoolExecutor(options.jobs, initializer=share,
                                 initargs=(kivbook, password_file, reference, days)) as pool:
            for job, result in zip(jobs, pool.map(measure, jobs, chunksize=4)):
                peer_cache[hashlib.sha256(job[3]).hexdigest()] = result["peers"]
                results.append(result)
        with open(peer_file, "w") as f:
            json.dump(peer_cache, f)

    if options.report:
        with open(options.report, "w") as f:
            for r in results:
                f.write(json.dumps(r, ensure_ascii=False) + "\n")
    print("%s: %d variants of %d books in %.0f s" % (options.kivbook, len(results), len(books),
                                                    time.monotonic() - started))
    print_table(tally(results))
    by_book = tally([dict(r, damage=r["kind"]) for r in results])
    by_book.pop("all")
    print()
    print_table(by_book)


if __name__ == "__main__":
    main()
