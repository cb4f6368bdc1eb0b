#!/usr/bin/env bash
# Makes the Debian packages as the README says (a release build for /usr of its own, then
# `cpack -G DEB`) and checks them: the three packages and nothing else, the files each holds,
# their dependencies (declared, and resolvable here: `apt-get install --simulate`, which
# installs nothing and needs no root), then unpacks them into a folder and builds and runs
# the README's application against the unpacked development files, and loads the Designer
# plugin from the unpacked plugin package.
#
# Usage: debianpackages.sh --source DIR --work DIR --version X.Y.Z --test-build DIR
#            [--cmake CMAKE] [--cpack CPACK] [--cxx COMPILER] [--launcher LAUNCHER]
set -euo pipefail

CMAKE=cmake
CPACK=cpack
CXX_COMPILER=
LAUNCHER=
while [ $# -gt 0 ]; do
    case "$1" in
        --source) SOURCE=$2 ;;
        --work) WORK=$2 ;;
        --version) VERSION=$2 ;;
        --test-build) TEST_BUILD=$2 ;;
        --cmake) CMAKE=$2 ;;
        --cpack) CPACK=$2 ;;
        --cxx) CXX_COMPILER=$2 ;;
        --launcher) LAUNCHER=$2 ;;
        *) echo "debianpackages: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ARCH=$(dpkg --print-architecture)
LIBDIR=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
DEBVERSION=$VERSION-1

RELEASE=$WORK/release # kept between runs, so that a second run only builds what changed
DEBS=$WORK/debs
ROOT=$WORK/root
EXAMPLE=$WORK/example
LOGS=$WORK/logs
rm -rf "$DEBS" "$ROOT" "$EXAMPLE" "$LOGS" "$WORK/empty-config" "$WORK/unspecified"
mkdir -p "$DEBS" "$ROOT" "$LOGS" "$WORK/empty-config"

FAILED=0
fail() {
    printf 'FAIL: %b\n' "$*" >&2
    FAILED=1
}

# run LOG COMMAND...: runs COMMAND with its output in LOG; a failure shows the log and ends the test.
run() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        echo "FAIL: $*" >&2
        tail -n 80 "$log" >&2
        exit 1
    fi
}

# --- The packages, as an integrator makes them ------------------------------------------------

configure=(-S "$SOURCE" -B "$RELEASE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
    -DBUILD_TESTING=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
if [ -n "$CXX_COMPILER" ]; then configure+=(-DCMAKE_CXX_COMPILER="$CXX_COMPILER"); fi
if [ -n "$LAUNCHER" ]; then configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$LAUNCHER"); fi
run "$LOGS/configure.log" "$CMAKE" "${configure[@]}"
# Only what the packages hold; cpack is told not to build the rest (demo, benchmarks).
run "$LOGS/build.log" "$CMAKE" --build "$RELEASE" -j"$(nproc)" --target OrvantelWorkOrders orvantelworkordersplugin
(cd "$RELEASE" && run "$LOGS/cpack.log" "$CPACK" -G DEB -B "$DEBS")

# Every file the tree installs belongs to one of the packages' components.
run "$LOGS/unspecified.log" "$CMAKE" --install "$RELEASE" --component Unspecified --prefix "$WORK/unspecified"
if [ -n "$(find "$WORK/unspecified" -mindepth 1 2>/dev/null)" ]; then
    fail "installed outside the packages:\n$(find "$WORK/unspecified" -mindepth 1)"
fi

# The test build (tests on, the test server's linked-file address, /usr/local) is refused.
if (cd "$TEST_BUILD" && "$CPACK" -G DEB -B "$WORK/refused") >"$LOGS/refused.log" 2>&1; then
    fail "cpack made packages from the test build $TEST_BUILD"
elif ! grep -q "Debian packages" "$LOGS/refused.log"; then
    fail "cpack failed on the test build for another reason:\n$(tail -n 20 "$LOGS/refused.log")"
fi
rm -rf "$WORK/refused"

RUNTIME=liborvantelworkorders0_${DEBVERSION}_$ARCH.deb
DEV=liborvantelworkorders-dev_${DEBVERSION}_$ARCH.deb
PLUGIN=orvantelworkorders-designer-plugin_${DEBVERSION}_$ARCH.deb
made=$(cd "$DEBS" && find . -maxdepth 1 -name '*.deb' -printf '%f\n' | sort)
expected=$(printf '%s\n' "$DEV" "$RUNTIME" "$PLUGIN" | sort)
if [ "$made" != "$expected" ]; then
    echo "FAIL: cpack made:" >&2
    echo "$made" >&2
    echo "expected:" >&2
    echo "$expected" >&2
    exit 1
fi

# --- What each package holds ---------------------------------------------------------------------

# contents DEB: the files and links of a package ("path -> target" for a link), sorted.
contents() {
    dpkg-deb -c "$DEBS/$1" | grep -v '^d' | sed -E 's/^([^ ]+ +){5}//' | sort
}

expect_contents() {
    local actual expected
    actual=$(contents "$1")
    expected=$(sort <<<"$2")
    if [ "$actual" != "$expected" ]; then
        fail "$1 holds:\n$actual\nexpected:\n$expected"
    fi
}

expect_contents "$RUNTIME" "./$LIBDIR/libOrvantelWorkOrders.so.0 -> libOrvantelWorkOrders.so.$VERSION
./$LIBDIR/libOrvantelWorkOrders.so.$VERSION"
expect_contents "$DEV" "./usr/include/OrvantelWorkOrders/orvantelworkorders_export.h
./usr/include/OrvantelWorkOrders/workordersgrid.h
./$LIBDIR/cmake/OrvantelWorkOrders/OrvantelWorkOrdersConfig.cmake
./$LIBDIR/cmake/OrvantelWorkOrders/OrvantelWorkOrdersConfigVersion.cmake
./$LIBDIR/cmake/OrvantelWorkOrders/OrvantelWorkOrdersTargets-release.cmake
./$LIBDIR/cmake/OrvantelWorkOrders/OrvantelWorkOrdersTargets.cmake
./$LIBDIR/libOrvantelWorkOrders.so -> libOrvantelWorkOrders.so.0"
expect_contents "$PLUGIN" "./$LIBDIR/qt6/plugins/designer/liborvantelworkordersplugin.so"

# --- Their control fields -------------------------------------------------------------------------

# expect_entries DEB FIELD ENTRY...: each ENTRY is one of the field's comma-separated entries;
# an ENTRY without a version matches the package name whatever version the entry asks for
# (dpkg-shlibdeps writes the versions of the libraries on this machine).
expect_entries() {
    local deb=$1 name=$2 value entries names item
    shift 2
    value=$(dpkg-deb -f "$DEBS/$deb" "$name")
    entries=$(tr ',' '\n' <<<"$value" | sed -E 's/^ +//; s/ +$//')
    names=$(sed -E 's/ *\(.*//' <<<"$entries")
    for item in "$@"; do
        if [[ "$item" == *"("* ]]; then
            grep -qxF -- "$item" <<<"$entries" || fail "$deb: $name lacks \"$item\": $value"
        else
            grep -qxF -- "$item" <<<"$names" || fail "$deb: $name lacks $item: $value"
        fi
    done
}

expect_field() {
    local actual
    actual=$(dpkg-deb -f "$DEBS/$1" "$2")
    [ "$actual" = "$3" ] || fail "$1: $2 is \"$actual\", expected \"$3\""
}

expect_field "$RUNTIME" Package liborvantelworkorders0
expect_field "$RUNTIME" Version "$DEBVERSION"
expect_field "$RUNTIME" Section libs
expect_entries "$RUNTIME" Depends libqt6sql6-sqlite libqt6widgets6 libqt6sql6 libqt6webenginewidgets6 libpq5 libsqlite3-0
expect_field "$RUNTIME" Recommends "libqt6sql6-psql, libqt6sql6-odbc, tdsodbc"
# The linked-file address built into the library: the library's default, not the tests'.
dpkg-deb -f "$DEBS/$RUNTIME" Description | grep -qxF " Linked files are previewed from http://localhost/Orvantel/ItemImages/" ||
    fail "$RUNTIME: description:\n$(dpkg-deb -f "$DEBS/$RUNTIME" Description)"
shlibs=$(dpkg-deb -I "$DEBS/$RUNTIME" shlibs)
[ "$shlibs" = "libOrvantelWorkOrders 0 liborvantelworkorders0 (>= $DEBVERSION)" ] ||
    fail "$RUNTIME: shlibs is \"$shlibs\""

expect_field "$DEV" Package liborvantelworkorders-dev
expect_field "$DEV" Version "$DEBVERSION"
expect_entries "$DEV" Depends "liborvantelworkorders0 (= $DEBVERSION)" qt6-base-dev

expect_field "$PLUGIN" Package orvantelworkorders-designer-plugin
expect_field "$PLUGIN" Version "$DEBVERSION"
expect_entries "$PLUGIN" Depends "liborvantelworkorders0 (= $DEBVERSION)" libqt6core6

for deb in "$RUNTIME" "$DEV" "$PLUGIN"; do
    [ -n "$(dpkg-deb -f "$DEBS/$deb" Maintainer)" ] || fail "$deb has no maintainer"
done

# --- The dependencies resolve on this machine ----------------------------------------------------

# Without root apt-get simulates without locking by itself; as root it would wait on another
# apt's lock, which a simulation does not need.
if ! (cd "$DEBS" && apt-get install --simulate -o Debug::NoLocking=1 "./$RUNTIME" "./$DEV" "./$PLUGIN") \
    >"$LOGS/apt.log" 2>&1; then
    fail "apt-get cannot install the packages:\n$(cat "$LOGS/apt.log")"
fi
for package in liborvantelworkorders0 liborvantelworkorders-dev orvantelworkorders-designer-plugin; do
    grep -q "^Inst $package " "$LOGS/apt.log" || fail "apt-get would not install $package:\n$(cat "$LOGS/apt.log")"
done

# --- An application built and run against the unpacked packages -----------------------------------

for deb in "$RUNTIME" "$DEV" "$PLUGIN"; do
    dpkg-deb -x "$DEBS/$deb" "$ROOT"
done

example=(-S "$HERE/example" -B "$EXAMPLE" -G Ninja -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_PREFIX_PATH="$ROOT/usr" -DORVANTEL_PACKAGE_ROOT="$ROOT")
if [ -n "$CXX_COMPILER" ]; then example+=(-DCMAKE_CXX_COMPILER="$CXX_COMPILER"); fi
run "$LOGS/example-configure.log" "$CMAKE" "${example[@]}"
run "$LOGS/example-build.log" "$CMAKE" --build "$EXAMPLE" -j"$(nproc)"

# No settings file (an empty configuration folder) and no server: nothing to connect to.
export QT_QPA_PLATFORM=offscreen
export ORVANTEL_CONFIG_DIR=$WORK/empty-config
export LD_LIBRARY_PATH=$ROOT/$LIBDIR
unset QT_PLUGIN_PATH

linked=$(ldd "$EXAMPLE/app" | grep 'libOrvantelWorkOrders' || true)
[[ "$linked" == *"=> $ROOT/$LIBDIR/libOrvantelWorkOrders.so.0 "* ]] ||
    fail "the application does not run with the unpacked library: $linked"

status=0
timeout 120 "$EXAMPLE/app" >"$LOGS/app.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the application ended with $status (124: did not end by itself):\n$(cat "$LOGS/app.log")"

# The plugin is where this Qt, and so Qt Designer, looks for Designer plugins, and loads from there.
status=0
QT_PLUGIN_PATH=$ROOT/$LIBDIR/qt6/plugins timeout 120 "$EXAMPLE/uiloader" >"$LOGS/uiloader.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the Designer plugin did not load ($status):\n$(cat "$LOGS/uiloader.log")"
plugins=$(head -n 1 "$LOGS/uiloader.log")
[ "$(contents "$PLUGIN")" = ".$plugins/designer/liborvantelworkordersplugin.so" ] ||
    fail "$PLUGIN puts the plugin at $(contents "$PLUGIN"); Qt Designer looks in $plugins/designer"

if [ "$FAILED" -ne 0 ]; then
    exit 1
fi
echo "PASS: $RUNTIME, $DEV and $PLUGIN"
