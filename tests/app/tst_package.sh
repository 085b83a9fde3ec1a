#!/usr/bin/env bash
# Installs the project as a package build does and has the desktop's own validators check what
# desktops and software centres read; then makes the Debian package from the build and checks its
# control data, contents and maintainer scripts, and has lintian judge it.
# Usage: tst_package.sh CMAKE BUILD_DIR UNIT_DIR (UNIT_DIR relative to the install prefix)
set -euo pipefail
cmake=$1
build=$2
unit_dir=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for tool in desktop-file-validate appstreamcli man dpkg-deb dpkg-shlibdeps python3 file lintian; do
    command -v "$tool" >/dev/null || fail "$tool not found: run tools/install-deps.sh"
done

prefix=$tmp/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
metainfo=$share/metainfo/jp.example.zarvikmail.metainfo.xml
for f in bin/ZARVIK_Mail bin/zarvik-maild share/applications/zarvik-mail.desktop \
    share/icons/hicolor/scalable/apps/zarvik-mail.svg "${metainfo#"$prefix"/}" \
    share/man/man1/ZARVIK_Mail.1.gz share/man/man8/zarvik-maild.8.gz \
    share/doc/zarvik-mail/ZARVIK_Mail.ini.example "$unit_dir/zarvik-maild.service"; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
desktop-file-validate "$share/applications/zarvik-mail.desktop" || fail "desktop-file-validate"
grep -q '^Name\[ja\]=' "$share/applications/zarvik-mail.desktop" || fail "no Name[ja]"
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
for size in 48 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/zarvik-mail.png
    [ -f "$png" ] || fail "not installed: $png"
    got=$(python3 -c 'import struct, sys
head = open(sys.argv[1], "rb").read(24)
assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
print("%dx%d" % struct.unpack(">II", head[16:24]))' "$png")
    [ "$got" = "${size}x$size" ] || fail "$png is $got"
done
for page in man1/ZARVIK_Mail.1.gz man8/zarvik-maild.8.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l "$share/man/$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
# The settings file's own format: CRLF on every line.
! grep -qv $'\r$' "$share/doc/zarvik-mail/ZARVIK_Mail.ini.example" || fail "example not CRLF"

# The package, made as a user would in the build folder, but into a folder of the test's own.
cpack=$(dirname "$cmake")/cpack
(cd "$tmp" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb") \
    >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
debs=("$tmp"/deb/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "no .deb made"
dpkg-deb -I "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
# Read from the binaries by dpkg-shlibdeps, plus the platform plugin Qt loads at run time.
for package in libc6 libqt6widgets6 libqt6charts6 libqt6network6 libcurl4 libmicrohttpd12 \
    libsystemd0 libqt6keychain1 qt6-qpa-plugins; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = zarvik-mail ] || fail "package name"
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/ZARVIK_Mail usr/bin/zarvik-maild usr/share/applications/zarvik-mail.desktop \
    "usr/${metainfo#"$prefix"/}" usr/share/man/man1/ZARVIK_Mail.1.gz \
    usr/share/icons/hicolor/256x256/apps/zarvik-mail.png "usr/$unit_dir/zarvik-maild.service"; do
    grep -q " \./$f\$" <<<"$contents" || fail "not in the package: $f"
done
# Read whole before it is searched: grep -q stopping early would break tar's pipe.
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/$unit_dir/zarvik-maild.service")
grep -q '^ExecStart=/usr/bin/zarvik-maild ' <<<"$unit" || fail "the packaged unit names another executable"
for f in copyright changelog.gz; do
    grep -q " \./usr/share/doc/zarvik-mail/$f\$" <<<"$contents" || fail "not in the package: $f"
done
# The service is looked after on install, upgrade, remove and purge (tst_debinstall runs them).
dpkg-deb -e "$deb" "$tmp/control"
for script in postinst prerm postrm; do
    [ -x "$tmp/control/$script" ] || fail "no executable $script"
    sh -n "$tmp/control/$script" || fail "$script: not valid sh"
done

# Debian's own judge: any error fails, and so does a binary built without the hardening Debian
# builds its packages with; warnings are printed for a reader.
lintian_log=$tmp/lintian.log
lintian --display-info --allow-root "$deb" >"$lintian_log" 2>&1 || true
cat "$lintian_log"
if grep -E '^E: |hardening-' "$lintian_log"; then fail "lintian"; fi
echo "package checked: $(basename "$deb")"
