#!/usr/bin/env bash
# The Debian package as an operator gets it: CPack makes it from this build tree, dpkg-deb unpacks it
# into a scratch root (nothing is installed on the system), and from there every file an install
# must bring is checked and every program is run. Exit 77 (reported as skipped) without dpkg-deb.
#
# usage: run-package.sh <cpack> <build dir> <version> <application id>
set -uo pipefail

cpack=${1:?cpack}
build=$(realpath "${2:?build dir}")
version=${3:?version}
app_id=${4:?application id}
command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed (scripts/setup installs it)"; exit 77; }

work=$(mktemp -d /tmp/nerio-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: cpack made no single .deb: ${debs[*]}"; exit 1; }
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
echo "package: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libqt[56]core' || fail "Depends does not name the Qt core library"

share=$root/usr/share
for program in nerio-control nerio-emulator nerio-ts; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program missing"
    [ -s "$share/man/man1/$program.1.gz" ] || fail "manual page of $program missing"
done
for f in "applications/$app_id.desktop" "metainfo/$app_id.metainfo.xml" doc/nerio-control/copyright \
    doc/nerio-control/changelog.gz; do
    [ -s "$share/$f" ] || fail "usr/share/$f missing"
done
for size in 16 22 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/$app_id.png
    # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
    dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
    [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size}: ${dims:-missing}"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$share/applications/$app_id.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
        { cat "$work/appstream.log"; fail "appstreamcli validate"; }
fi

export QT_QPA_PLATFORM=offscreen
run() { timeout 20 "$root/usr/bin/$@" 2>&1; }
for program in nerio-control nerio-emulator nerio-ts; do
    out=$(run "$program" --version)
    [ "$out" = "$program $version" ] || fail "$program --version printed '$out', not '$program $version'"
done

# Every option a program's help names is in its manual page.
manual_has_options() { # <program> <help arguments...>
    local page options missing=""
    page=$(gzip -dc "$share/man/man1/$1.1.gz" 2>/dev/null | sed 's/\\-/-/g')
    options=$(run "$@" | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
    [ -n "$options" ] || { fail "$* printed no options"; return; }
    for o in $options; do
        grep -qE -- "$o([^a-z0-9-]|\$)" <<<"$page" || missing+=" $o"
    done
    [ -z "$missing" ] || fail "manual page of $1 lacks$missing (from $*)"
}
manual_has_options nerio-control --help
manual_has_options nerio-emulator --help
manual_has_options nerio-emulator make-firmware --help
for command in analyze stream receive; do manual_has_options nerio-ts "$command" --help; done

# A program of one PCR stream at 1 353 600 bit/s: PAT, PMT, then 20 times a PCR packet and 9 null
# packets, the PCR 1/90 s on each time (10 packets of 188 bytes a PCR interval).
hex() { printf "$(sed 's/../\\x&/g' <<<"$1")"; }
stuffing() { printf '\xff%.0s' $(seq "$1"); }
ts=$work/small.ts
{
    hex 474000100000B00D0001C100000001F0002AB104B2; stuffing 167
    hex 475000100002B0120001C10000E100F00002E100F0009E8B23D1; stuffing 162
    for i in $(seq 0 19); do
        base=$((i * 1000))
        hex "$(printf '470100 20B710 %02X%02X%02X%02X%02X00' $((base >> 25 & 255)) $((base >> 17 & 255)) \
            $((base >> 9 & 255)) $((base >> 1 & 255)) $(((base & 1) << 7 | 0x7E)) | tr -d ' ')"
        stuffing 176
        for _ in $(seq 9); do hex 471FFF10; stuffing 184; done
    done
} >"$ts"
analysis=$(run nerio-ts analyze --json "$ts")
for expected in '"bitrate": *1353600' '"program_number": *1' '"pcr_pid": *256' '"crc_errors": *0'; do
    grep -q -- "$expected" <<<"$analysis" || fail "nerio-ts analyze: no $expected in: $analysis"
done

[ $failures = 0 ] || exit 1
echo "PASS: package installs and runs"
