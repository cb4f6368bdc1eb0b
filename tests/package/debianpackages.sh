#!/usr/bin/env bash
# Makes the Debian packages as the README says, checks their declared dependencies and that
# apt can install them here (simulated: installs nothing), unpacks them into a folder, and
# builds and runs an application against the unpacked files, the Designer plugin included.
# Usage: debianpackages.sh SOURCE WORK [COMPILER_LAUNCHER]
set -euo pipefail
SOURCE=$1 WORK=$2
rm -rf "$WORK/debs" "$WORK/root" "$WORK/example" # $WORK/release is kept: a rerun builds what changed

cmake -S "$SOURCE" -B "$WORK/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER_LAUNCHER="${3:-}" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
# Only what the packages hold; the demo and the benchmarks are not packaged.
cmake --build "$WORK/release" -j"$(nproc)" --target OrvantelWorkOrders orvantelworkordersplugin
(cd "$WORK/release" && cpack -G DEB -B "$WORK/debs")
cd "$WORK/debs"

# needs PACKAGE DEPENDENCY...: PACKAGE declares each DEPENDENCY, a name ("NAME (=": an exact version).
needs() {
    local declared
    declared=", $(dpkg-deb -f "$1"_*.deb Depends),"
    for dependency in "${@:2}"; do
        [[ "$declared" == *", $dependency"[\ ,]* ]] || { echo "$1 lacks $dependency:$declared" >&2; exit 1; }
    done
}
needs liborvantelworkorders0 libqt6sql6-sqlite libqt6widgets6 libqt6webenginewidgets6 libpq5 libsqlite3-0
needs liborvantelworkorders-dev "liborvantelworkorders0 (=" qt6-base-dev
needs orvantelworkorders-designer-plugin "liborvantelworkorders0 (=" libqt6core6
# As root apt-get would wait for the lock of another apt, which a simulation does not need.
apt-get install --simulate -o Debug::NoLocking=1 ./*.deb

for deb in ./*.deb; do dpkg-deb -x "$deb" "$WORK/root"; done
cmake -S "$(dirname "$0")/example" -B "$WORK/example" -G Ninja -DCMAKE_PREFIX_PATH="$WORK/root/usr"
cmake --build "$WORK/example"
# No settings file (the unpacked /etc has none) and so no server: start-up connects to nothing.
QT_QPA_PLATFORM=offscreen ORVANTEL_CONFIG_DIR="$WORK/root/etc" timeout 120 "$WORK/example/app" "$WORK/root"
