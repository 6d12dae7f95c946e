#!/usr/bin/env bash
# Makes the Debian package from the build with CPack, in a scratch folder, and
# checks it as apt and Debian's archive checker would: its name, its control
# fields and dependencies, exactly the expected files with root ownership and
# the right modes, a changelog for this very version, the licence in the
# copyright file and as LICENCE.txt, an AppStream entry without a single
# validator remark, and no lintian error or warning.
# Usage: package_test.sh <build-dir> <source-dir> <version>
set -euo pipefail
build=$1 source=$2 version=$3
id=io.github.bastionrow.ravelin
release=1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# need <command> <Debian package>
need() {
    command -v "$1" >/dev/null \
        || { echo "FAIL: $1 is missing: install the Debian package $2 (scripts/deps does it)" >&2; exit 1; }
}
need cpack cmake
need dpkg-shlibdeps dpkg-dev
need file file
need lintian lintian
need appstreamcli appstream

cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log" >&2; exit 1; }
deb=$scratch/ravelin_${version}-${release}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "FAIL: cpack made no $(basename "$deb"): $(ls "$scratch")" >&2; exit 1; }

# --- control fields
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = ravelin ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version-$release" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)'"
[ "$(field Priority)" = optional ] || fail "Priority is '$(field Priority)'"
[ "$(field Maintainer)" = "Bastion Row Software <ravelin@bastionrow.org>" ] \
    || fail "Maintainer is '$(field Maintainer)'"
[ -n "$(field Homepage)" ] || fail "no Homepage"
depends=$(field Depends)
depended=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for needed in libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libqt6sql6 libstdc++6 libc6 fonts-liberation libqt6sql6-sqlite; do
    grep -qxF "$needed" <<<"$depended" || fail "Depends lacks $needed: $depends"
done

# --- the files, and nothing else
expected="usr/bin/ravelin
usr/bin/ravelin-cli
usr/bin/ravelin-practice-server
usr/lib/systemd/user/ravelin-watch.service
usr/share/applications/$id.desktop
usr/share/doc/ravelin/LICENCE.txt
usr/share/doc/ravelin/README.md
usr/share/doc/ravelin/examples/automation.toml
usr/share/doc/ravelin/examples/desired.toml
usr/share/doc/ravelin/examples/watch.conf
usr/share/doc/ravelin/changelog.Debian.gz
usr/share/doc/ravelin/copyright
usr/share/icons/hicolor/128x128/apps/$id.png
usr/share/icons/hicolor/16x16/apps/$id.png
usr/share/icons/hicolor/22x22/apps/$id.png
usr/share/icons/hicolor/24x24/apps/$id.png
usr/share/icons/hicolor/256x256/apps/$id.png
usr/share/icons/hicolor/32x32/apps/$id.png
usr/share/icons/hicolor/48x48/apps/$id.png
usr/share/icons/hicolor/64x64/apps/$id.png
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/lintian/overrides/ravelin
usr/share/man/man1/ravelin-cli.1.gz
usr/share/man/man1/ravelin-practice-server.1.gz
usr/share/man/man1/ravelin.1.gz
usr/share/man/man5/ravelin-automation.5.gz
usr/share/man/man5/ravelin-fleet.5.gz
usr/share/metainfo/$id.metainfo.xml
usr/share/ravelin/maps.dat
usr/share/ravelin/servermessages.dat"
# dpkg-deb -c: mode, owner/group, size, date, time, name.
listing=$(dpkg-deb --contents "$deb")
packaged=$(awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' <<<"$listing" | LC_ALL=C sort)
diff -u --label expected --label packaged <(LC_ALL=C sort <<<"$expected") - <<<"$packaged" \
    || fail "the package's files are not the expected ones"
wrong=$(awk '$2 != "root/root" ||
             ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
             ($6 ~ /^\.\/usr\/bin\// && $1 !~ /^d/ && $1 != "-rwxr-xr-x") ||
             ($6 !~ /^\.\/usr\/bin\// && $1 !~ /^d/ && $1 != "-rw-r--r--")' <<<"$listing")
[ -z "$wrong" ] || fail "wrong owner or mode: $wrong"

# --- the Debian documents
mkdir "$scratch/root"
dpkg-deb --extract "$deb" "$scratch/root"
doc=$scratch/root/usr/share/doc/ravelin
top=$(zcat "$doc/changelog.Debian.gz" | head -n 1)
[[ "$top" == "ravelin ($version-$release) "* ]] || fail "the changelog's newest entry is '$top', not $version-$release"
# The copyright file's licence paragraph is LICENCE.txt's licence, indented.
diff -u --label LICENCE.txt --label copyright \
    <(sed -n '/^Permission is hereby granted/,$p' "$source/LICENCE.txt") \
    <(tac "$doc/copyright" | sed '/^License: /q' | tac | tail -n +2 | sed 's/^ //; s/^\.$//') \
    || fail "the copyright file's licence text is not LICENCE.txt's"
# The About window names this file.
cmp -s "$source/LICENCE.txt" "$doc/LICENCE.txt" || fail "the package's LICENCE.txt is not the source's"

# --- the AppStream entry as software centres read it: not even a pedantic remark
out=$(appstreamcli validate --pedantic --no-net "$scratch/root/usr/share/metainfo/$id.metainfo.xml" 2>&1) \
    || fail "appstreamcli validate: $out"
remarks=$(grep -E '^[EWIP]: ' <<<"$out" || true)
[ -z "$remarks" ] || fail "appstreamcli validate --pedantic remarks: $remarks"

# --- Debian's archive checker: errors and warnings fail, notes are shown
lintian_status=0
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 || lintian_status=$?
lintian_out=$(grep -v 'running with root privileges' "$scratch/lintian.log" || true)
[ "$lintian_status" -eq 0 ] || fail "lintian exits with $lintian_status: $lintian_out"
[ -z "$lintian_out" ] || echo "lintian: $lintian_out"

if [ "$failures" -ne 0 ]; then
    echo "$failures package checks failed" >&2
    exit 1
fi
echo "Debian package $(basename "$deb"): all checks passed"
exit 0
