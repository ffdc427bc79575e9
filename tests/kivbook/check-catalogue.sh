#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Every text of kivbook that is marked for translation has its Japanese in
# kivbook/po/ja.po (msgcmp names the ones that have none).
# Usage: check-catalogue.sh SOURCE_DIR
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$1/kivbook"
xgettext --from-code=UTF-8 -k -k_ -kN_ -kPlural:1,2 -o "$work/kivbook.pot" ./*.cpp ./*.h
msgcmp po/ja.po "$work/kivbook.pot"
echo "every marked text has its Japanese"
