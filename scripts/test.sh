#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once normally, once under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the serial-link and device tests
# under ThreadSanitizer. The sanitizer passes leave out the tests labelled "long",
# whose duration is set by the device's fixed waits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

echo "== normal build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j3)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address
(cd build-asan && ctest --output-on-failure -j3 -LE long)

echo "== ThreadSanitizer (serial link and device runs)"
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread
(cd build-tsan && ctest --output-on-failure -j3 -L 'comm|programmer|e2e|platform' -LE long)
echo "== all tests passed"
