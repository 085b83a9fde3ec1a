#!/usr/bin/env bash
# The English translation against the code: fails when the .ts file lacks a text the code has,
# keeps one it no longer has, or holds a translation left unfinished or empty (lrelease builds
# such a file without a word).
# Usage: tst_translations.sh LUPDATE TS_FILE SOURCE_DIR LUPDATE_ARGUMENT...
set -euo pipefail
lupdate=$1 ts=$2 source=$3
shift 3
fail() { echo "FAIL: $*" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$ts" "$tmp/current.ts"
(cd "$source" && "$lupdate" "$@" -ts "$tmp/current.ts" >/dev/null) || fail "lupdate failed"
diff -u "$ts" "$tmp/current.ts" ||
    fail "$ts is out of date with the code: run cmake --build build --target update-translations"
if grep -nE 'type="(unfinished|vanished|obsolete)"|<translation>\s*</translation>|<translation/>' "$ts"; then
    fail "$ts holds the unfinished or empty translations above"
fi
echo "PASS: $(grep -c '<source>' "$ts") texts, every one translated"
