#!/bin/sh
# Checks that what the README promises under packaging/ is committed, and
# that the Buildroot external tree gives Buildroot what it requires.
#   check_packaging.sh SOURCE_DIR
# Exit 77 (skipped) outside a git checkout: "tracked" means nothing there.
set -u
src=$1
br=$src/packaging/buildroot
git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1 || {
    echo "not a git checkout: $src" >&2
    exit 77
}
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
tracked() { # tracked PATH: a tracked file, or a folder holding one
    [ -n "$(git -C "$src" ls-files -- "$1" | head -n 1)" ]
}
# value FILE VAR: the right-hand side of VAR's first plain assignment
value() {
    sed -n "s/^$2[[:space:]]*[:+?]\{0,1\}=[[:space:]]*//p" "$1" | head -n 1
}

# --- every path the README names under packaging/ is in git
paths=$(grep -o '\(^\|[`/[:space:]]\)packaging/[A-Za-z0-9_./-]*' "$src/README.md" |
    sed 's,^[^p]*,,; s,[.]$,,' | sort -u)
[ -n "$paths" ] || fail "the README names nothing under packaging/"
for path in $paths; do
    tracked "$path" || fail "the README names $path, which git does not track"
done

# --- the external tree's layout
for file in external.desc external.mk Config.in tapline/Config.in tapline/tapline.mk; do
    tracked "packaging/buildroot/$file" || fail "packaging/buildroot/$file is not tracked"
done
[ -f "$br/tapline/tapline.mk" ] || { echo "FAIL: no tapline.mk" >&2; exit 1; }

# --- its name, and the path variable Buildroot derives from it
name=$(sed -n 's/^name:[[:space:]]*//p' "$br/external.desc")
printf '%s\n' "$name" | grep -qx '[A-Za-z0-9_]\{1,\}' || fail "external.desc: bad name '$name'"
path_var=BR2_EXTERNAL_${name}_PATH
grep -q "\$$path_var/tapline/Config.in" "$br/Config.in" ||
    fail "Config.in does not source \$$path_var/tapline/Config.in"
grep -q "\$($path_var)/\*/\*\.mk\|\$($path_var)/tapline/tapline\.mk" "$br/external.mk" ||
    fail "external.mk does not include the package's .mk through \$($path_var)"

# --- the package's symbol and its libftdi choice
grep -qx 'config BR2_PACKAGE_TAPLINE' "$br/tapline/Config.in" ||
    fail "tapline/Config.in defines no BR2_PACKAGE_TAPLINE"
grep -q 'select BR2_PACKAGE_LIBFTDI if !BR2_PACKAGE_LIBFTDI1' "$br/tapline/Config.in" ||
    fail "tapline/Config.in does not select BR2_PACKAGE_LIBFTDI unless BR2_PACKAGE_LIBFTDI1"

# --- the variables a cmake-package needs
mk=$br/tapline/tapline.mk
for var in TAPLINE_VERSION TAPLINE_SITE TAPLINE_LICENSE TAPLINE_LICENSE_FILES TAPLINE_DEPENDENCIES; do
    [ -n "$(value "$mk" "$var")" ] || fail "tapline.mk assigns no $var"
done
grep -qx '\$(eval \$(cmake-package))' "$mk" || fail "tapline.mk has no \$(eval \$(cmake-package))"
version=$(sed -n 's/^project(tapline VERSION \([^ ]*\) .*/\1/p' "$src/CMakeLists.txt")
[ "$(value "$mk" TAPLINE_VERSION)" = "$version" ] ||
    fail "TAPLINE_VERSION '$(value "$mk" TAPLINE_VERSION)' is not the project's version '$version'"
for file in $(value "$mk" TAPLINE_LICENSE_FILES); do
    tracked "$file" || fail "TAPLINE_LICENSE_FILES names $file, which git does not track"
done
# The site, with the tree's path put in, is this checkout.
site=$(value "$mk" TAPLINE_SITE | sed "s,\$($path_var),$br,")
[ -f "$site/CMakeLists.txt" ] && [ "$(cd "$site" && pwd -P)" = "$(cd "$src" && pwd -P)" ] ||
    fail "TAPLINE_SITE does not lead to this checkout: $(value "$mk" TAPLINE_SITE)"
for dep in libftdi libftdi1 host-pkgconf; do
    grep -q "^TAPLINE_DEPENDENCIES[[:space:]]*+\{0,1\}=.*\<$dep\>" "$mk" ||
        fail "TAPLINE_DEPENDENCIES never names $dep"
done
grep -q 'BR2_PACKAGE_HAS_UDEV' "$mk" && grep -q 'TAPLINE_INSTALL_UDEV_RULE=OFF' "$mk" ||
    fail "tapline.mk does not leave the udev rule out without BR2_PACKAGE_HAS_UDEV"

# --- the TCK rate reaches the build, falling back to the project's default
hz=$(sed -n 's/^set(TAPLINE_TCK_HZ \([0-9]*\) CACHE.*/\1/p' "$src/CMakeLists.txt")
ow=$src/packaging/openwrt/tapline/Makefile
grep -q -- '-DTAPLINE_TCK_HZ=$(BR2_PACKAGE_TAPLINE_TCK_HZ)' "$mk" &&
    sed -n '/^config BR2_PACKAGE_TAPLINE_TCK_HZ$/,/^$/p' "$br/tapline/Config.in" |
    grep -qx "[[:space:]]*default ${hz:-none}" ||
    fail "tapline.mk and Config.in do not give -DTAPLINE_TCK_HZ, default ${hz:-none}"
[ "$(value "$ow" TAPLINE_TCK_HZ)" = "$hz" ] && grep -q -- '-DTAPLINE_TCK_HZ=$(TAPLINE_TCK_HZ)' "$ow" ||
    fail "the OpenWrt Makefile does not give -DTAPLINE_TCK_HZ, default ${hz:-none}"

if [ "$failures" -ne 0 ]; then
    echo "$failures packaging check(s) failed" >&2
    exit 1
fi
echo "packaging checks passed: $(echo $paths)"
