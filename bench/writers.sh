#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writers taking turns on one book, and what a killed encrypted put leaves.
#
#   bench/writers.sh [KIVBOOK] [ROUNDS] [TRIALS]
#
# KIVBOOK defaults to build/kivbook/kivbook. Three tables:
#   1. three kivbook put at once, ROUNDS (200) rounds each, different days;
#   2. put against delete, ROUNDS/2 (100) rounds: every put that ended 0
#      must be in the book, every delete that ended 0 must stay deleted;
#   3. kivbook put --encrypt killed with SIGKILL at a random moment, TRIALS
#      (30) times: the day's text must not be found in a file anywhere
#      under the run's folder, $TMPDIR, /tmp or /var/tmp;
#   4. put against repair, ROUNDS/2 rounds: every put that ended 0 must be
#      in the book;
#   5. kivbook put killed with SIGKILL at a random moment, TRIALS times: the
#      book must still check, and the next put must not wait for the lock.
# A writer that gives up must end non-zero and say why; those are counted.
set -u

kivbook=$(realpath "${1:-build/kivbook/kivbook}")
rounds=${2:-200}
trials=${3:-30}
deletes=$((rounds / 2))

work=$(mktemp -d "${TMPDIR:-/tmp}/writers-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
mkdir -p "$TMPDIR"

# Day N (from 0) after the first of January of the year.
day() { date -u -d "$1-01-01 +$2 days" +%Y%m%d; }

# The days the book holds, as yyyymmdd, sorted.
days_in() { "$kivbook" list "$1" 2>/dev/null | tr -d / | sort; }

# One writer: puts ROUNDS days of its own year; writes "date status" lines
# and keeps what a failing put said.
writer() {
    local book=$1 year=$2 log=$3 i d status
    for ((i = 0; i < rounds; i++)); do
        d=$(day "$year" "$i")
        "$kivbook" put "$book" "$d" --weather "w$year-$i" >/dev/null 2>"$log.err.$i"
        status=$?
        echo "$d $status" >>"$log"
        [ "$status" = 0 ] && rm -f "$log.err.$i"
    done
}

# Failures that said nothing.
silent_failures() { find "$work" -name '*.err.*' -empty | wc -l; }

echo "kivbook: $kivbook"
echo
echo "1. three writers x $rounds rounds of put on one book"
book="$work/three.KIV"
start=$(date +%s.%N)
for year in 2001 2002 2003; do writer "$book" "$year" "$work/put.$year" & done
wait
seconds=$(echo "$(date +%s.%N) - $start" | bc)
ok=$(cat "$work"/put.200? | awk '$2 == 0' | wc -l)
failed=$(cat "$work"/put.200? | awk '$2 != 0' | wc -l)
present=$(days_in "$book")
lost=$(cat "$work"/put.200? | awk '$2 == 0 { print $1 }' | sort | comm -23 - <(echo "$present") | wc -l)
printf '   puts ended 0: %d   gave up: %d (silent: %d)   lost: %d   days in the book: %d   %.1f s\n' \
    "$ok" "$failed" "$(silent_failures)" "$lost" "$(echo "$present" | grep -c .)" "$seconds"
rm -f "$work"/*.err.*

echo
echo "2. put against delete, $deletes rounds"
book="$work/mixed.KIV"
for ((i = 0; i < deletes; i++)); do "$kivbook" put "$book" "$(day 2010 "$i")" --weather old >/dev/null || exit 1; done
(
    for ((i = 0; i < deletes; i++)); do
        d=$(day 2010 "$i")
        "$kivbook" delete "$book" "$d" >/dev/null 2>"$work/delete.err.$i"
        status=$?
        echo "$d $status" >>"$work/deletes"
        [ "$status" = 0 ] && rm -f "$work/delete.err.$i"
    done
) &
rounds=$deletes writer "$book" 2011 "$work/puts" &
wait
present=$(days_in "$book")
lostPuts=$(awk '$2 == 0 { print $1 }' "$work/puts" | sort | comm -23 - <(echo "$present") | wc -l)
back=$(awk '$2 == 0 { print $1 }' "$work/deletes" | sort | comm -12 - <(echo "$present") | wc -l)
printf '   puts ended 0: %d   deletes ended 0: %d   gave up: %d (silent: %d)   puts lost: %d   deleted days back: %d\n' \
    "$(awk '$2 == 0' "$work/puts" | wc -l)" "$(awk '$2 == 0' "$work/deletes" | wc -l)" \
    "$(cat "$work/puts" "$work/deletes" | awk '$2 != 0' | wc -l)" "$(silent_failures)" "$lostPuts" "$back"
rm -f "$work"/*.err.*

echo
echo "3. kill -9 of kivbook put --encrypt at a random moment, $trials trials"
book="$work/secret.KIV"
printf 'secret\n' >"$work/password"
"$kivbook" put "$book" 20200101 --weather first --encrypt --password-file "$work/password" >/dev/null || exit 1
found=0
killedRunning=0
for ((t = 0; t < trials; t++)); do
    marker="PLAIN-$RANDOM-$RANDOM-$t-TEXT"
    # The diary comes from a pipe, so the only copies are the ones kivbook makes.
    "$kivbook" put "$book" "$(day 2020 $((t + 1)))" --diary-file - --encrypt --password-file "$work/password" \
        < <(printf '%s\n' "$marker") >/dev/null 2>&1 &
    pid=$!
    sleep "0.0$((RANDOM % 60))"
    kill -9 "$pid" 2>/dev/null && killedRunning=$((killedRunning + 1))
    wait "$pid" 2>/dev/null
    hits=$(grep -rlaF "$marker" "$work" /tmp /var/tmp 2>/dev/null | wc -l)
    found=$((found + (hits > 0)))
done
printf '   killed while running: %d of %d   trials with the plain text on disk: %d\n' "$killedRunning" "$trials" "$found"
echo "   book still checks: $("$kivbook" check "$book" --password-file "$work/password" >/dev/null 2>&1 && echo yes || echo no)"

echo
echo "4. put against repair, $deletes rounds"
book="$work/repaired.KIV"
"$kivbook" put "$book" 20300101 --weather first >/dev/null || exit 1
(
    for ((i = 0; i < deletes; i++)); do
        "$kivbook" repair "$book" >/dev/null 2>"$work/repair.err.$i"
        status=$?
        echo "$i $status" >>"$work/repairs"
        [ "$status" = 0 ] && rm -f "$work/repair.err.$i"
    done
) &
rounds=$deletes writer "$book" 2031 "$work/puts-repair" &
wait
present=$(days_in "$book")
lostPuts=$(awk '$2 == 0 { print $1 }' "$work/puts-repair" | sort | comm -23 - <(echo "$present") | wc -l)
printf '   puts ended 0: %d   repairs ended 0: %d   gave up: %d (silent: %d)   puts lost: %d\n' \
    "$(awk '$2 == 0' "$work/puts-repair" | wc -l)" "$(awk '$2 == 0' "$work/repairs" | wc -l)" \
    "$(cat "$work/puts-repair" "$work/repairs" | awk '$2 != 0' | wc -l)" "$(silent_failures)" "$lostPuts"
rm -f "$work"/*.err.*

echo
echo "5. kill -9 of kivbook put at a random moment, $trials trials"
book="$work/killed.KIV"
"$kivbook" put "$book" 20400101 --weather first >/dev/null || exit 1
broken=0
killedRunning=0
waited=0
mkdir -p "$XDG_CONFIG_HOME/kiv"
for ((t = 0; t < trials; t++)); do
    "$kivbook" put "$book" "$(day 2040 $((t + 1)))" --weather "w$t" >/dev/null 2>&1 &
    pid=$!
    sleep "0.0$((RANDOM % 40))"
    kill -9 "$pid" 2>/dev/null && killedRunning=$((killedRunning + 1))
    wait "$pid" 2>/dev/null
    "$kivbook" check "$book" >/dev/null 2>&1 || broken=$((broken + 1))
    # A lock its killed holder left is taken over at once: no wait allowed.
    printf '[KIV_SETTINGS]\nBookLockWait=0\n' >"$XDG_CONFIG_HOME/kiv/registry.ini"
    "$kivbook" put "$book" "$(day 2041 "$t")" --weather after >/dev/null 2>&1 || waited=$((waited + 1))
    rm -f "$XDG_CONFIG_HOME/kiv/registry.ini"
done
printf '   killed while running: %d of %d   books that no longer check: %d   next puts refused: %d\n' \
    "$killedRunning" "$trials" "$broken" "$waited"
