#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, checks what landed where,
# builds the small host of install_host/ against it twice (pkg-config, then
# the CMake package with Ninja) and runs both against the scanner simulator;
# then runs the system-install step on a scratch shared directory.
#
#   install_test.sh BUILD_DIR SOURCE_DIR [SANITIZER]
set -euo pipefail

build="$1"
source="$2"
sanitize="${3:-}"
host_src="$source/tests/blackbox/install_host"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

fail() {
    echo "install test: $*" >&2
    exit 1
}

# A sanitized library needs its runtime in the host too.
flags=""
case "$sanitize" in
address) flags="-fsanitize=address,undefined" ;;
thread) flags="-fsanitize=thread" ;;
esac

env -u DESTDIR cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install failed"; }
grep -q "Shared configuration directory: skipped, not a system install" "$work/install.log" ||
    fail "a scratch prefix must leave the shared configuration directory alone"

# The usual places, the SONAME and its links.
for f in include/KovranMS.h bin/kvxscan lib/pkgconfig/kovranms.pc \
    lib/cmake/KovranMS/KovranMSConfig.cmake lib/cmake/KovranMS/KovranMSConfigVersion.cmake \
    lib/udev/rules.d/60-kovran-scanners.rules share/kovranms/e13bA04.db; do
    [ -f "$prefix/$f" ] || fail "$f not installed"
done
[ "$(find "$prefix/share/kovranms" -name '*.db' | wc -l)" -eq 20 ] || fail "not 20 font databases"
real="$(readlink -f "$prefix/lib/libKovranMS.so")"
[ "$(readlink "$prefix/lib/libKovranMS.so.2")" = "$(basename "$real")" ] ||
    fail "libKovranMS.so.2 does not name the versioned file"
[[ "$(basename "$real")" =~ ^libKovranMS\.so\.2\.[0-9]+\.[0-9]+ ]] || fail "unversioned $real"
readelf -d "$real" | grep -q 'Library soname: \[libKovranMS.so.2\]' || fail "SONAME is not libKovranMS.so.2"

run_host() {
    local name="$1" exe="$2" out
    mkdir -p "$work/data-$name"
    out="$(KOVRAN_USB=sim KOVRAN_SIM= KOVRAN_DATA_BASE="$work/data-$name" "$exe" 2>&1)" ||
        { echo "$out"; fail "$name host failed"; }
    echo "$out" | grep -q "^library $prefix/lib/libKovranMS.so" ||
        { echo "$out"; fail "$name host did not load the installed library"; }
    echo "$out" | grep -Eq '^scanned [1-9][0-9]+ lines' || { echo "$out"; fail "$name host scanned nothing"; }
    echo "$name host: ${out//$'\n'/; }"
}

# pkg-config, as a Makefile would use it.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion kovranms)" = "$(sed -n 's/^Version: //p' "$prefix/lib/pkgconfig/kovranms.pc")" ] ||
    fail "pkg-config does not find kovranms"
[ "$(readlink -f "$(pkg-config --variable=fontdbdir kovranms)")" = "$(readlink -f "$prefix/share/kovranms")" ] ||
    fail "fontdbdir is not the installed databases"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror $flags "$host_src/host.c" -o "$work/host-pc" $(pkg-config --cflags --libs kovranms) \
    -Wl,-rpath,"$(readlink -f "$(pkg-config --variable=libdir kovranms)")"
run_host pkg-config "$work/host-pc"

# The CMake package.
cmake -S "$host_src" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/cmake.log" ||
    { cat "$work/cmake.log"; fail "find_package(KovranMS) failed"; }
ninja -C "$work/cmake-build" >"$work/ninja.log" || { cat "$work/ninja.log"; fail "host build failed"; }
run_host cmake "$work/cmake-build/host"

# The installed tool finds the installed library by itself.
if [ -z "$sanitize" ]; then
    # Its log goes to the scratch folder: run as root, the default would be
    # the machine's /var/lib/Kovran/V3r.
    mkdir -p "$work/data-version"
    KOVRAN_DATA_BASE="$work/data-version" "$prefix/bin/kvxscan" --version | grep -q . ||
        fail "installed kvxscan --version printed nothing"
    compgen -G "$work/data-version/Kovran/V3r/*.log" >/dev/null ||
        fail "installed kvxscan wrote its log outside the scratch folder"
fi

# The system-install step on a scratch directory (the real one is
# /var/lib/Kovran/V3r): skipped for a staged install, made for the group
# as root.
step() {
    cmake -DKOVRAN_SYSTEM_INSTALL=ON -DKOVRAN_SHARED_CONFIG_DIR="$work/var/lib/Kovran/V3r" \
        -DKOVRAN_SCANNER_GROUP="$1" -DKOVRAN_FONTDB_INSTALLED_DIR="$prefix/share/kovranms" \
        -DCMAKE_INSTALL_PREFIX=/usr -P "$source/cmake/shared_config_dir.cmake" 2>&1
}
DESTDIR="$work/stage" step nogroup | grep -q "skipped, staged install" || fail "DESTDIR install not skipped"
[ ! -e "$work/var" ] || fail "a staged install made the shared directory"
if [ "$(id -u)" -ne 0 ]; then
    env -u DESTDIR bash -c "$(declare -f step); step nogroup" | grep -q "skipped, not root" ||
        fail "install without root not skipped"
    echo "system-install step as root: skipped (not root)"
    exit 0
fi
group="$(getent group nogroup >/dev/null && echo nogroup || id -gn)"
mkdir -p "$work/var/lib/Kovran/V3r"
echo "calibration" >"$work/var/lib/Kovran/V3r/older.cal"
chmod 600 "$work/var/lib/Kovran/V3r/older.cal"
env -u DESTDIR bash -c "work=$work prefix=$prefix source=$source; $(declare -f step); step $group" \
    >"$work/step.log"
grep -q "Shared configuration directory: $work/var/lib/Kovran/V3r" "$work/step.log" ||
    { cat "$work/step.log"; fail "the shared directory was not made"; }
[ "$(stat -c '%a %G' "$work/var/lib/Kovran/V3r")" = "2775 $group" ] ||
    fail "shared directory is $(stat -c '%a %G' "$work/var/lib/Kovran/V3r"), not 2775 $group"
[ "$(stat -c '%G' "$work/var/lib/Kovran/V3r/older.cal")" = "$group" ] &&
    [ "$(( $(stat -c '0%a' "$work/var/lib/Kovran/V3r/older.cal") & 060 ))" -eq 48 ] ||
    fail "a file already there did not join the group"
[ "$(readlink "$work/var/lib/Kovran/V3r/e13bA04.db")" = "$prefix/share/kovranms/e13bA04.db" ] ||
    fail "the font databases are not linked into the shared directory"
echo "system-install step: $(stat -c '%A %G' "$work/var/lib/Kovran/V3r")"
