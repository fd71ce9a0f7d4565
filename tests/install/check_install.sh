#!/bin/sh
# Installs a build tree into a scratch prefix and checks what lands there
# the way a distribution package would ship it: the binary, its man page and
# the udev rule that lets plugdev use the adapter.
#   check_install.sh CMAKE BUILD_DIR SOURCE_DIR PREFIX BINDIR MANDIR UDEVDIR [RUNNER...]
# RUNNER runs the installed binary (the emulator of a cross build).
set -u
if [ $# -lt 7 ]; then
    echo "usage: $0 CMAKE BUILD_DIR SOURCE_DIR PREFIX BINDIR MANDIR UDEVDIR [RUNNER...]" >&2
    exit 2
fi
cmake=$1 build=$2 source=$3 prefix=$4
binary=$prefix/$5/tapline
man_page=$prefix/$6/man1/tapline.1
rule=$prefix/$7/60-tapline.rules
shift 7

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -rf "$prefix"
if ! "$cmake" --install "$build" --prefix "$prefix" >/dev/null; then
    echo "FAIL: cmake --install $build --prefix $prefix" >&2
    exit 1
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tapline-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The USB ID the tool opens, as the rule and the page must name it.
hex_constant() {
    sed -n "s/.*$1 *= *0x\([0-9A-Fa-f]*\).*/\1/p" "$source/src/link/adapter.h" |
        tr 'A-F' 'a-f'
}
vid=$(hex_constant ADAPTER_VENDOR_ID)
pid=$(hex_constant ADAPTER_PRODUCT_ID)
[ -n "$vid" ] && [ -n "$pid" ] ||
    fail "no ADAPTER_VENDOR_ID/ADAPTER_PRODUCT_ID in src/link/adapter.h"

# --- man page ---------------------------------------------------------
rendered=$scratch/page.txt
if [ ! -f "$man_page" ]; then
    fail "man page not installed at $man_page"
    : >"$rendered"
else
    # Every warning groff knows, on a page that must produce none.
    if ! groff -man -ww -z "$man_page" >"$scratch/groff.err" 2>&1 ||
        [ -s "$scratch/groff.err" ]; then
        fail "groff warns about the man page:"
        cat "$scratch/groff.err" >&2
    fi
    if command -v man >/dev/null 2>&1; then
        if ! MANWIDTH=80 man --warnings -l "$man_page" >/dev/null 2>"$scratch/man.err" ||
            [ -s "$scratch/man.err" ]; then
            fail "man warns about the man page:"
            cat "$scratch/man.err" >&2
        fi
    fi
    # What whatis/apropos will index.
    if command -v lexgrog >/dev/null 2>&1; then
        lexgrog "$man_page" 2>/dev/null | grep -q '"tapline - .' ||
            fail "NAME section does not parse as 'tapline - description'"
    fi
    for section in NAME SYNOPSIS DESCRIPTION COMMANDS OUTPUT '"EXIT STATUS"' \
        DIAGNOSTICS FILES NOTES; do
        grep -qx "\.SH $section" "$man_page" || fail "man page lacks section $section"
    done
    # Plain text, one paragraph per line, so each message stands alone.
    groff -man -Tascii -P-bcou -rLL=400n -rHY=0 "$man_page" 2>/dev/null |
        sed 's/^ *//; s/ *$//' >"$rendered"
    grep -qF "$vid:$pid" "$rendered" || fail "man page does not name $vid:$pid"
fi

# Every line the tool prints, from its source, must be in the page: a
# message nobody documented is a fault. printf conversions stand for any
# word (%s for any text) in the page's examples and placeholders; a field
# width may pad with blanks; %% is a percent sign. Calls and literals split
# over lines are joined first.
# The transfer failures' lines sit in the queue's table: every literal
# there that ends a line.
{
    find "$source/src" -name '*.cpp' -exec cat {} + | tr '\n' ' ' |
        sed -E 's/"[[:space:]]+"//g' |
        grep -oE '\b(f?puts|f?printf)\((stderr, *)?"([^"\\]|\\.)*"'
    grep -oE '"([^"\\]|\\.)*\\n"' "$source/src/link/queue.cpp"
} | sed -E 's/^[^"]*"//; s/"$//; s/\\[nrt]//g; s/\\"/"/g; s/^ +//; s/ +$//' |
    sort -u >"$scratch/messages"
[ -s "$scratch/messages" ] || fail "found no messages in $source/src"
while IFS= read -r message; do
    pattern=$(printf '%s\n' "$message" |
        sed -E 's/[][\\.*+?(){}|^$]/\\&/g; s/%[0-9]*l*s/.*/g;
            s/%[0-9]+l*[a-z]/ *[^ ]+/g; s/%[0-9]*l*[a-z]/[^ ]+/g; s/%%/%/g')
    grep -qEx -- "$pattern" "$rendered" ||
        fail "message not in the man page: $message"
done <"$scratch/messages"

# --- binary -----------------------------------------------------------
if [ ! -f "$binary" ] || [ ! -x "$binary" ]; then
    fail "no executable at $binary"
else
    "$@" "$binary" >"$scratch/out" 2>"$scratch/err" </dev/null
    status=$?
    [ "$status" -eq 1 ] || fail "without arguments: exit status $status, not 1"
    usage=$(sed 's/^ *//; s/ *$//' "$scratch/out")
    if [ -z "$usage" ] || [ "$(printf '%s\n' "$usage" | wc -l)" -ne 1 ]; then
        fail "without arguments: expected one usage line, got: '$usage'"
    elif ! grep -qxF -- "$usage" "$rendered"; then
        fail "usage line is not the one in the man page: $usage"
    fi
    [ ! -s "$scratch/err" ] || {
        fail "without arguments: printed on standard error:"
        cat "$scratch/err" >&2
    }
fi
# --version answers without the adapter, with the version the page shows.
page_version=$(sed -n 's/^\.TH .*"tapline \([^"]*\)".*/\1/p' "$man_page" 2>/dev/null)
if [ -x "$binary" ]; then
    version=$(LD_LIBRARY_PATH=${TAPLINE_TEST_LIBRARY_PATH:-${LD_LIBRARY_PATH:-}} \
        "$@" "$binary" --version </dev/null 2>&1)
    [ "$(printf '%s\n' "$version" | head -n 1)" = "tapline $page_version" ] ||
        fail "--version says '$version'; the man page is for 'tapline $page_version'"
    printf '%s\n' "$version" | sed -n 2p | grep -qxE 'TCK [1-9][0-9]* Hz' ||
        fail "--version names no TCK rate: '$version'"
fi
# libftdi is the system's: none ships with the tool.
found=$(find "$prefix" -name 'libftdi*')
[ -z "$found" ] || fail "a libftdi was installed: $found"

# --- udev rule --------------------------------------------------------
if [ ! -f "$rule" ]; then
    fail "udev rule not installed at $rule"
else
    grep -vE '^[[:space:]]*(#|$)' "$rule" >"$scratch/rules"
    key='[A-Z_]+(\{[^}]+\})?(==|!=|=|\+=|-=|:=)"[^"]*"'
    while IFS= read -r line; do
        printf '%s\n' "$line" | grep -qEx "$key(, *$key)*" ||
            fail "malformed udev rule: $line"
    done <"$scratch/rules"
    matching=$(grep -F 'SUBSYSTEM=="usb"' "$scratch/rules" |
        grep -F "ATTRS{idVendor}==\"$vid\"" |
        grep -F "ATTRS{idProduct}==\"$pid\"" |
        grep -F 'GROUP="plugdev"' |
        grep -cF 'MODE="0660"')
    [ "$matching" -eq 1 ] ||
        fail "expected one rule giving plugdev mode 0660 on usb $vid:$pid, found $matching"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures install check(s) failed" >&2
    exit 1
fi
echo "install checks passed: $binary, $man_page, $rule"
