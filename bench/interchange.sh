#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A hundred-year book to JSON and back, against unzip and zip -r of the same
# days.
#
#   bench/interchange.sh [KIVBOOK] [RUNS]
#
# KIVBOOK defaults to build/kivbook/kivbook, RUNS to 3. The book: 36,525 days
# (1926 to 2025) with texts of 300 to 2,000 bytes and a 20 KB JPEG picture
# on every 30th day, made by importing a generated JSON file. Then, RUNS
# times in turn, the median wall-clock seconds of:
#   export  kivbook export BOOK DIR --format json   vs  unzip -q BOOK -d DIR
#   import  kivbook import NEW DIR/book.json        vs  zip -qr NEW.zip DIR
# The machine is shared: the figures are noisy; compare ratios, not seconds.
set -eu

kivbook=$(realpath "${1:-build/kivbook/kivbook}")
runs=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/interchange-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
mkdir -p "$TMPDIR"
cd "$work"

python3 - <<'PY'
import base64, datetime, random
random.seed(1)
words = ["今日は", "晴れ", "雨が降った。", "散歩に出かけた。", "会議", "友達と", "夕食を作った。", "本を読んだ。",
         "walk", "rain", "meeting", "coffee", "電車が遅れた。", "桜が咲いた。"]
picture = b"\xff\xd8\xff\xe0" + bytes(random.getrandbits(8) for _ in range(20000)) + b"\xff\xd9"
encoded = base64.b64encode(picture).decode()
day, end = datetime.date(1926, 1, 1), datetime.date(2025, 12, 31)
with open("seed.json", "w", encoding="utf-8") as out:
    out.write('{"format": "kivbook-days", "version": 1, "days": [')
    n = 0
    while day <= end:
        text = ""
        while len(text.encode("cp932")) < random.randint(300, 2000):
            text += random.choice(words) + ("\r\n" if random.random() < 0.1 else "")
        schedule = ['"会議"' if random.random() < 0.2 else '""' for _ in range(11)]
        pic = '{"kind": 2, "data": "%s"}' % encoded if n % 30 == 0 else "null"
        out.write('%s\n{"date": "%s", "schedule": [%s], "scheduleMemo": "", "weather": "晴れ", "temperature": "20", '
                  '"diary": "%s", "picture": %s}' % ("," if n else "", day.isoformat(), ", ".join(schedule),
                                                   text.replace("\r\n", "\\r\\n"), pic))
        day += datetime.timedelta(days=1)
        n += 1
    out.write("\n]}\n")
PY
"$kivbook" import book.KIV seed.json >/dev/null
echo "book: $(du -h book.KIV | cut -f1), $("$kivbook" list book.KIV | wc -l) days"

# "wall cpu" seconds of one run.
seconds() { /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1; awk '{ print $1, $2 + $3 }' "$work/time"; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

for ((i = 0; i < runs; i++)); do
    rm -rf out days new.KIV new.zip
    seconds "$kivbook" export book.KIV out --format json >>export.ours
    seconds unzip -q book.KIV -d days >>export.peer
    seconds env -u TMPDIR "$kivbook" import new.KIV out/book.json >>import.ours
    seconds zip -qr new.zip days >>import.peer
done
paste -d ' ' export.ours import.ours | awk '{ print $1 + $3, $2 + $4 }' >both.ours
paste -d ' ' export.peer import.peer | awk '{ print $1 + $3, $2 + $4 }' >both.peer
# The round trip gives the same members.
for member in $(unzip -Z1 book.KIV | sort | awk 'NR % 997 == 1'); do
    cmp -s <(unzip -p book.KIV "$member") <(unzip -p new.KIV "$member") || { echo "differs: $member"; exit 1; }
done

printf '\n| operation (ours vs peer) | ours s | peer s | ratio | ours CPU s | peer CPU s | CPU ratio |\n'
printf '|---|---:|---:|---:|---:|---:|---:|\n'
for step in export import both; do
    ours=$(cut -d ' ' -f 1 "$step.ours" | median)
    peer=$(cut -d ' ' -f 1 "$step.peer" | median)
    ourCpu=$(cut -d ' ' -f 2 "$step.ours" | median)
    peerCpu=$(cut -d ' ' -f 2 "$step.peer" | median)
    case $step in
        export) label="kivbook export --format json vs unzip -q" ;;
        import) label="kivbook import BOOK.json vs zip -qr" ;;
        both) label="JSON out and back vs unzip and zip -r" ;;
    esac
    printf '| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n' "$label" "$ours" "$peer" "$(echo "$ours / $peer" | bc -l)" \
        "$ourCpu" "$peerCpu" "$(echo "$ourCpu / $peerCpu" | bc -l)"
done
