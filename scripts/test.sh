#!/bin/sh
# Builds everything and runs every test: unit tests (also under ASan and
# UBSan), window tests, fuzz targets and the end-to-end tests against a local
# mail office. Installs what it needs on Debian 12.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${TAV_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAV_FUZZ=ON -DTAV_SANITIZE_TESTS=ON >/dev/null
cmake --build "$BUILD" -j2
cd "$BUILD"
exec ctest -j2 --output-on-failure
