#!/usr/bin/env bash
# Builds the Debian package from the build directory, unpacks it into a scratch root and uses
# it as an installed system would: the files where the desktop looks for them, valid for the
# desktop's own validators, the installed program with its installed window module, the window
# started from the menu entry, the manual and the shell completion.
#
#   check_package.sh BUILD_DIR
set -u
build=$(cd "${1:?usage: check_package.sh BUILD_DIR}" && pwd)
work=$(mktemp -d /tmp/quarvel-package-XXXXXX)
root=$work/root
app_id=org.quarvel.Quarvel
# The program's settings (its language among them) start from nothing.
export XDG_CONFIG_HOME=$work/config
passed=0
failed=0
xvfb=
bus=
cleanup() {
    for pid in $(window_pids) $bus $xvfb; do kill "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

check() {
    local name=$1
    shift
    if "$@" > "$work/out" 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
        sed 's/^/    /' "$work/out" | head -40
    fi
}

# The installed window's processes (only those of this scratch root): the program hands the
# window to the full program beside the modules.
window_pids() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/exe" 2>/dev/null)" = "$root/usr/lib/quarvel/quarvel-full" ] &&
            echo "${p#/proc/}"
    done
}

if ! cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" > "$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "0 passed, 1 failed"
    exit 1
fi
deb=$(ls "$work"/quarvel_*.deb)
dpkg-deb -x "$deb" "$root"

# ---- The package ---------------------------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
# Computed from the binaries: the window module brings the toolkit, the program the C library.
check "dependencies computed by dpkg-shlibdeps" \
    grep -qE '(^|, )libc6 \(>=.*(^|, )libgtk-3-0 \(>=' <<< "$depends"
# Without locking: as root, apt locks even a simulation, and another apt may be running.
check "every dependency can be installed here" \
    apt-get install --simulate --no-install-recommends -o Debug::NoLocking=1 "$deb"
if command -v lintian > /dev/null; then
    check "lintian finds no errors" lintian --fail-on error "$deb"
fi

expected=(
    usr/bin/quarvel
    usr/lib/quarvel/quarvel-full
    usr/lib/quarvel/quarvel-window.so
    usr/lib/quarvel/quarvel-display.so
    usr/lib/quarvel/quarvel-capture.so
    usr/share/quarvel/report.schema.json
    usr/share/applications/$app_id.desktop
    usr/share/metainfo/$app_id.metainfo.xml
    usr/share/polkit-1/actions/org.quarvel.quarvel.policy
    usr/share/man/man1/quarvel.1.gz
    usr/share/bash-completion/completions/quarvel
    usr/share/doc/quarvel/copyright
    usr/share/doc/quarvel/changelog.gz
)
for size in 16 24 32 48 64 128 256 512; do
    expected+=("usr/share/icons/hicolor/${size}x$size/apps/$app_id.png")
done
for f in "${expected[@]}"; do
    check "installs /$f" test -s "$root/$f"
done

# ---- Desktop files -------------------------------------------------------------------------
# Hints count too: one about the categories means the entry lands in a catch-all menu.
silent() { "$@" && [ ! -s "$work/out" ]; }
check "desktop entry is valid" \
    silent desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
check "metainfo is valid" \
    appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
# The menu says what the program itself says, in the user's language.
comments() {
    local lang said
    for lang in de ar zh_TW; do
        said=$(LANGUAGE=$lang LC_ALL=C.UTF-8 "$root/usr/bin/quarvel" --help | head -n1)
        grep -qxF "Comment[$lang]=${said#* — }" "$root/usr/share/applications/$app_id.desktop" ||
            { echo "no Comment[$lang] saying '${said#* — }'"; return 1; }
    done
}
check "menu entry speaks the program's languages" comments
# Each icon is drawn at its own size, not one picture stretched by the theme.
icon_sizes() {
    local f size
    for f in "$root"/usr/share/icons/hicolor/*/apps/$app_id.png; do
        size=$(basename "$(dirname "$(dirname "$f")")")
        [ "$(identify -format '%wx%h' "$f")" = "$size" ] || { echo "$f is not $size"; return 1; }
    done
}
check "icons have the size of their folder" icon_sizes
# The test suite draws every screenshot that the metainfo shows.
screenshots() {
    local name
    for name in $(grep -o '<image>[^<]*</image>' "$root/usr/share/metainfo/$app_id.metainfo.xml" |
                  sed 's|.*/\([^/<]*\)</image>|\1|'); do
        [ -s "$build/artifacts/$name" ] || { echo "no $build/artifacts/$name"; return 1; }
    done
}
check "metainfo screenshots are made by the window tests" screenshots
# pkexec picks the action only for exactly the installed program with --root-collect: the
# full program, in which the window runs and which it elevates.
policy() {
    python3 - "$root/usr/share/polkit-1/actions/org.quarvel.quarvel.policy" <<'PY'
import sys, xml.etree.ElementTree as ET
action = ET.parse(sys.argv[1]).getroot().find('action')
notes = {a.get('key'): a.text for a in action.findall('annotate')}
assert notes == {'org.freedesktop.policykit.exec.path': '/usr/lib/quarvel/quarvel-full',
                 'org.freedesktop.policykit.exec.argv1': '--root-collect'}, notes
assert 'serial numbers' in action.find('message').text
PY
}
check "polkit action names the installed program and --root-collect" policy
manual() {
    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l \
        "$root/usr/share/man/man1/quarvel.1.gz" 2>&1 > "$work/manual")
    [ -z "$warnings" ] || { echo "$warnings"; return 1; }
    grep -q 'QUARVEL_SYSROOT' "$work/manual" && grep -q 'EXIT STATUS' "$work/manual"
}
check "manual renders without warnings" manual

# Completion: "line before the cursor|expected candidates".
completion() {
    touch "$work/report-one.txt" "$work/capture-one.tar.xz"
    local cases=(
        "quarvel --r|--report"
        "quarvel |--report --capture --version --help"
        "quarvel --report $work/report-o|$work/report-one.txt"
        "quarvel -r $work/report-o|$work/report-one.txt"
        "quarvel --version --|"
        "quarvel --report out.txt --|--json --redact"
        "quarvel --report --json $work/report-o|$work/report-one.txt"
        "quarvel --capture $work/report-o|"
        "quarvel --capture $work/capture-o|$work/capture-one.tar.xz"
        "quarvel --capture out.tar.xz --|--no-redact"
    )
    local c line want got
    for c in "${cases[@]}"; do
        line=${c%%|*} want=${c#*|}
        got=$(bash -c '
            source "$1"
            read -ra COMP_WORDS <<< "$2"
            [[ $2 == *" " ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            _quarvel
            echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/quarvel" "$line")
        [ "$got" = "$want" ] || { echo "'$line': got '$got', want '$want'"; return 1; }
    done
}
check "bash completion offers options and report files" completion

# ---- The installed program -----------------------------------------------------------------
check "installed program tells its version" \
    bash -c '[ "$("$1" --version)" = "Quarvel 1.0" ]' _ "$root/usr/bin/quarvel"
report() {
    env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quarvel" --report "$work/report.txt" &&
        grep -q '^=== ' "$work/report.txt" && [ "$(wc -l < "$work/report.txt")" -gt 50 ]
}
check "installed program writes the report" report

# The menu entry starts the installed program, which finds its installed window module.
source "$(dirname "$0")/private_desktop.sh"
launch() {
    start_private_desktop "$work" 1280x800x24
    PATH="$root/usr/bin:$PATH" QUARVEL_REPORT_FIRST_DRAW=1 \
        gio launch "$root/usr/share/applications/$app_id.desktop" 2> "$work/window.err" ||
        { cat "$work/window.err"; return 1; }
    for _ in $(seq 600); do
        grep -q 'first draw' "$work/window.err" && break
        sleep 0.05
    done
    cat "$work/window.err"
    local pid
    pid=$(window_pids | head -n1)
    [ -n "$pid" ] && grep -q "$root/usr/lib/quarvel/quarvel-window.so" "/proc/$pid/maps" &&
        grep -q 'first draw' "$work/window.err"
}
check "menu entry starts the window with the installed module" launch

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
