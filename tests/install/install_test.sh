#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user gets there:
# exactly the expected files with the right modes, a desktop entry and an
# AppStream entry that their validators accept and that name what is
# installed, icons of the size their folder says, manual pages that cover
# every option, and programs that start without a display.
# Usage: install_test.sh <build-dir> <source-dir> <version>
set -euo pipefail
build=$1 source=$2 version=$3
id=io.github.bastionrow.ravelin

scratch=$(mktemp -d)
ravelin_pid=
cleanup() {
    if [ -n "$ravelin_pid" ]; then
        kill "$ravelin_pid" 2>/dev/null || true
        wait "$ravelin_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
prefix=$scratch/prefix
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# need <command> <Debian package>
need() {
    command -v "$1" >/dev/null \
        || { echo "FAIL: $1 is missing: install the Debian package $2 (scripts/deps does it)" >&2; exit 1; }
}
need desktop-file-validate desktop-file-utils
need appstreamcli appstream
need man man-db
need file file
need systemd-analyze systemd

cmake --install "$build" --prefix "$prefix" >/dev/null

# --- the files, and nothing else
expected="bin/ravelin
bin/ravelin-cli
bin/ravelin-practice-server
lib/systemd/user/ravelin-watch.service
share/applications/$id.desktop
share/doc/ravelin/LICENCE.txt
share/doc/ravelin/README.md
share/doc/ravelin/examples/automation.toml
share/doc/ravelin/examples/desired.toml
share/doc/ravelin/examples/watch.conf
share/icons/hicolor/128x128/apps/$id.png
share/icons/hicolor/16x16/apps/$id.png
share/icons/hicolor/22x22/apps/$id.png
share/icons/hicolor/24x24/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/32x32/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/64x64/apps/$id.png
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/ravelin-cli.1.gz
share/man/man1/ravelin-practice-server.1.gz
share/man/man1/ravelin.1.gz
share/man/man5/ravelin-automation.5.gz
share/man/man5/ravelin-fleet.5.gz
share/metainfo/$id.metainfo.xml
share/ravelin/maps.dat
share/ravelin/servermessages.dat"
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
diff -u --label expected --label installed <(LC_ALL=C sort <<<"$expected") - <<<"$installed" \
    || fail "the installed files are not the expected ones"

# Programs 0755, everything else 0644, folders 0755, whatever the umask.
wrong_modes=$(cd "$prefix" && find . \( \( -path ./bin/\* -type f ! -perm 0755 \) -o \
    \( ! -path ./bin/\* -type f ! -perm 0644 \) -o \( -type d ! -perm 0755 \) \) -printf '%m %p\n')
[ -z "$wrong_modes" ] || fail "wrong modes: $wrong_modes"

# --- desktop entry and AppStream entry
desktop=$prefix/share/applications/$id.desktop
metainfo=$prefix/share/metainfo/$id.metainfo.xml
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
# Not even a pedantic remark: the validator passes an entry with remarks, and
# software centres show or drop such entries as they see fit.
out=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
remarks=$(grep -E '^[EWIP]: ' <<<"$out" || true)
[ -z "$remarks" ] || fail "appstreamcli validate --pedantic remarks: $remarks"
for program in $(sed -n 's|^ *<binary>\(.*\)</binary>$|\1|p' "$metainfo"); do
    [ -x "$prefix/bin/$program" ] || fail "the AppStream entry provides '$program', which is not installed"
done
for program in "$prefix"/bin/*; do
    grep -qF "<binary>$(basename "$program")</binary>" "$metainfo" \
        || fail "the AppStream entry does not provide $(basename "$program")"
done

exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$prefix/bin/$exec_program" ] || fail "the desktop entry starts '$exec_program', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -e "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the desktop entry's icon '$icon' is not installed"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || fail "the AppStream entry does not launch $id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the AppStream entry has no release $version"

for png in "$prefix"/share/icons/hicolor/*x*/apps/"$id".png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    file "$png" | grep -q "PNG image data, ${size/x/ x }," || fail "$png is not a ${size} PNG: $(file -b "$png")"
done

# --- manual pages: readable without warnings, and covering every option
for page in ravelin ravelin-cli ravelin-practice-server; do
    gz=$prefix/share/man/man1/$page.1.gz
    gzip -t "$gz" || fail "$page.1.gz is not gzip data"
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>&1 >/dev/null) || true
    [ -z "$out" ] || fail "man reports on $page(1): $out"
    roff=$(zcat "$gz" | sed 's/\\-/-/g')
    grep -q "Ravelin $version" <<<"$roff" || fail "$page(1) is not for version $version"
    help=$("$prefix/bin/$page" --help) || fail "$page --help exits with $?"
    [ -n "$help" ] || fail "$page --help prints nothing"
    for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$roff" || fail "$page(1) does not document $option"
    done
done

# The file formats' pages: readable without warnings, and of this version.
for page in ravelin-automation ravelin-fleet; do
    gz=$prefix/share/man/man5/$page.5.gz
    gzip -t "$gz" || fail "$page.5.gz is not gzip data"
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>&1 >/dev/null) || true
    [ -z "$out" ] || fail "man reports on $page(5): $out"
    zcat "$gz" | grep -q "Ravelin $version" || fail "$page(5) is not for version $version"
done

# The About window names the licence file where an installed copy finds it.
cmp -s "$source/LICENCE.txt" "$prefix/share/doc/ravelin/LICENCE.txt" \
    || fail "share/doc/ravelin/LICENCE.txt is not the source's LICENCE.txt"

# --- the watcher's user unit: systemd takes it as it is (checked against this
# install's ravelin-cli and manual), it runs `ravelin-cli watch`, and no
# password is ever written into it.
unit=$prefix/lib/systemd/user/ravelin-watch.service
grep -qE '^ExecStart=/[^ ]*/ravelin-cli watch$' "$unit" || fail "the unit does not start 'ravelin-cli watch'"
! grep -v '^#' "$unit" | grep -qi 'password' || fail "the unit names a password"
mkdir -p "$scratch/unit" "$scratch/unit-runtime"
chmod 0700 "$scratch/unit-runtime"
sed "s|^ExecStart=[^ ]*|ExecStart=$prefix/bin/ravelin-cli|" "$unit" >"$scratch/unit/ravelin-watch.service"
out=$(cd "$scratch/unit" && XDG_RUNTIME_DIR=$scratch/unit-runtime MANPATH=$prefix/share/man \
    systemd-analyze --user verify ravelin-watch.service 2>&1) && [ -z "$out" ] \
    || fail "systemd-analyze verify: $out"

# --- the programs
out=$("$prefix/bin/ravelin" --version) || fail "ravelin --version exits with $?"
[ "$out" = "ravelin $version" ] || fail "ravelin --version prints '$out', not 'ravelin $version'"

# An installed copy's first start gives the user the installed examples, in the
# per-user data folder rather than the (empty) working folder.
home=$scratch/home
mkdir -p "$home/runtime" "$scratch/work"
chmod 0700 "$home/runtime"
(cd "$scratch/work" && HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
    XDG_STATE_HOME=$home/state XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/runtime \
    exec "$prefix/bin/ravelin" >"$scratch/ravelin.log" 2>&1) &
ravelin_pid=$!
copied() {
    cmp -s "$source/examples/maps.dat" "$home/data/ravelin/maps.dat" \
        && cmp -s "$source/examples/servermessages.dat" "$home/data/ravelin/servermessages.dat"
}
# Waits for the copies, or for the program to stop; a minute guards a hang.
for _ in $(seq 600); do
    copied && break
    kill -0 "$ravelin_pid" 2>/dev/null || break
    sleep 0.1
done
for f in maps.dat servermessages.dat; do
    cmp -s "$source/examples/$f" "$home/data/ravelin/$f" \
        || fail "the first start did not copy the example $f to \$XDG_DATA_HOME/ravelin/"
done
kill -0 "$ravelin_pid" 2>/dev/null || fail "ravelin stopped on its first start: $(cat "$scratch/ravelin.log")"
[ ! -e "$scratch/work/maps.dat" ] || fail "the first start wrote into the working folder"

if [ "$failures" -ne 0 ]; then
    echo "$failures install checks failed" >&2
    exit 1
fi
echo "install layout: all checks passed"
exit 0
