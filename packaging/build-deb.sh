#!/usr/bin/env bash
# Builds daubly_<version>_<arch>.deb from the source tree alone: configures a release
# build of the program (no tests, no benchmarks) installed under /usr, then runs
# cpack. Prints the package's path on the last line.
#   packaging/build-deb.sh [BUILD_DIR]    (default: build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
build=${1:-build/package}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Debian's hardening flags (stack protector, fortified functions, full RELRO).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DDAUBLY_BUILD_TESTS=OFF -DDAUBLY_BUILD_BENCHMARKS=OFF -DDAUBLY_WERROR=ON \
    -DCMAKE_CXX_FLAGS="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS) $(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)" \
    "${launcher[@]}" >/dev/null
cmake --build "$build"
rm -f "$build"/daubly_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$(cd "$build" && pwd)"/daubly_*.deb
