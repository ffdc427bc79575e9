#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a staging folder and checks what a desktop reads
# from it: the files, the menu entry, the software centre's metadata, the
# diary book's file type and its handler, the manual pages, the bash
# completion; then builds the Debian package, reads its control data and
# has lintian check it: any error or warning fails (an accepted one is
# overridden in the package, with its reason).
# Usage: check-install.sh BUILD_DIR SOURCE_DIR
set -eu

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
id=jp.kiv.Diary
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
share=$stage/usr/share
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

step() {
    echo "-- $*"
}

step "install into a staging folder"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

for file in \
    usr/bin/kiv usr/bin/kivbook \
    "usr/share/applications/$id.desktop" \
    "usr/share/mime/packages/$id.xml" \
    "usr/share/metainfo/$id.metainfo.xml" \
    "usr/share/icons/hicolor/scalable/apps/$id.svg" \
    usr/share/man/man1/kiv.1.gz usr/share/man/man1/kivbook.1.gz \
    usr/share/man/ja/man1/kiv.1.gz usr/share/man/ja/man1/kivbook.1.gz \
    usr/share/locale/ja/LC_MESSAGES/kivbook.mo \
    usr/share/doc/kiv/copyright usr/share/doc/kiv/changelog.gz \
    usr/share/bash-completion/completions/kivbook; do
    [ -s "$stage/$file" ] || fail "$file is not installed"
done
for program in kiv kivbook; do
    [ -x "$stage/usr/bin/$program" ] || fail "$program is not executable"
done
for size in 16 22 24 32 48 64 128 256; do
    icon=$share/icons/hicolor/${size}x$size/apps/$id.png
    file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is no $size x $size PNG"
done
if [ -f "$source/docs/help/index.html" ]; then
    [ -f "$share/kiv/help/index.html" ] || fail "the help pages are not installed"
fi
"$stage/usr/bin/kivbook" --help | grep -q '^usage: kivbook' || fail "the installed kivbook does not run"

step "desktop-file-validate"
desktop-file-validate "$share/applications/$id.desktop" || fail "desktop-file-validate"

step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

step "xmllint of the file type"
xmllint --noout "$share/mime/packages/$id.xml" || fail "xmllint"

step "manual pages"
for page in man1/kiv man1/kivbook ja/man1/kiv ja/man1/kivbook; do
    gzip -t "$share/man/$page.1.gz" || fail "$page.1.gz is no gzip file"
    warnings=$(MANWIDTH=80 man --warnings -l "$share/man/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done
# As a user finds them: by name, in English and (man -L ja) in Japanese.
for page in kiv kivbook; do
    MANPATH=$share/man man -w "$page" | grep -qx "$share/man/man1/$page.1.gz" || fail "man $page finds no page"
    MANPATH=$share/man MANWIDTH=80 man -L ja "$page" 2>/dev/null | grep -q "^名前" || fail "man -L ja $page is not Japanese"
    MANPATH=$share/man MANWIDTH=80 man -L C "$page" 2>/dev/null | grep -q "^NAME" || fail "man -L C $page is not English"
done
step "kivbook's language"
"$stage/usr/bin/kivbook" --help | head -n 1 | grep -qx 'usage: kivbook COMMAND ARGUMENTS...' || fail "kivbook --help is not English"
LC_ALL= LANG=C.UTF-8 LANGUAGE=ja "$stage/usr/bin/kivbook" --help | head -n 1 | grep -qx '使い方: kivbook COMMAND ARGUMENTS...' ||
    fail "the installed kivbook finds no Japanese messages"

step "a book's file type and handler"
export XDG_DATA_HOME="$work/home-data" XDG_CONFIG_HOME="$work/home-config" XDG_DATA_DIRS="$share"
update-mime-database "$share/mime"
update-desktop-database -q "$share/applications"
books=$work/books
mkdir -p "$books"
"$stage/usr/bin/kivbook" put "$books/diary.KIV" 2001/03/15 --weather 晴れ >/dev/null
"$stage/usr/bin/kivbook" put "$books/diary.KIV" 2001/03/16 --weather 雨 >/dev/null
cp "$books/diary.KIV" "$books/copy.kiv"
for book in diary.KIV copy.kiv; do
    type=$(xdg-mime query filetype "$books/$book")
    echo "$book: $type"
    [ "$type" = application/x-kiv-book ] || fail "$book is $type"
done
handler=$(xdg-mime query default application/x-kiv-book)
echo "handler: $handler"
[ "$handler" = "$id.desktop" ] || fail "the handler of a book is '$handler'"

step "bash completion"
# Each case: the words on the line (the last one being completed), then
# what the completion offers.
complete_line() {
    PATH=$stage/usr/bin:$PATH bash -c '
        . /usr/share/bash-completion/bash_completion
        . "$0"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        _kivbook
        printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
    ' "$share/bash-completion/completions/kivbook" "$@"
}
check_completion() {
    expected=$1
    shift
    got=$(cd "$books" && complete_line "$@")
    [ "$got" = "$expected" ] || fail "completing '$*' offers '$got', not '$expected'"
}
check_completion "export " kivbook ex
check_completion "2001/03/15 2001/03/16 " kivbook show diary.KIV ""
check_completion "2001/03/16 " kivbook delete --verbose diary.KIV 2001/03/16
check_completion "--memo-file " kivbook put diary.KIV 2001/03/15 --weather x --m
check_completion "html " kivbook export diary.KIV out --format h
check_completion "holidays " kivbook hol
check_completion "--json " kivbook holidays --j
check_completion "--fold --from " kivbook search diary.KIV --f
check_completion "2001/03/15 2001/03/16 " kivbook search diary.KIV x --from ""
year=$(date +%Y)
check_completion "$year/01/01 " kivbook holidays "$year/01/01"

step "Debian package"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
info=$(dpkg-deb -I "$deb")
echo "$info"
# A package with a removal script stays half-known to dpkg after dpkg -r.
echo "$info" | grep -q " postrm " && fail "the package has a removal script"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libzip4 libjpeg62-turbo libpng16-16 fonts-ipafont-gothic qt6-translations-l10n; do
    case ", $depends" in
    *", $needed "* | *", $needed,"* | *", $needed") ;;
    *) fail "the package does not depend on $needed" ;;
    esac
done
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/kiv ./usr/bin/kivbook "./usr/share/applications/$id.desktop"; do
    echo "$contents" | grep -q " $file\$" || fail "the package holds no $file"
done

step "lintian"
# Exit status 1 is lintian's own verdict on errors; the tags decide here.
status=0
lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || status=$?
# As root lintian says so on standard error; that note is no finding.
grep -v '^running with root privileges' "$work/lintian" || true
[ $status -le 1 ] || fail "lintian did not run (status $status; scripts/install-deps installs it)"
grep -q '^[EW]: ' "$work/lintian" && fail "lintian reports errors or warnings"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all install checks passed"
