#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once normally, once under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the serial-link and device tests
# under ThreadSanitizer. The sanitizer passes leave out the tests labelled "long",
# whose duration is set by the device's fixed waits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
start=$SECONDS

echo "== normal build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j3)

# The window and device-run tests again, on an X display under a real window manager
# (Xvfb + openbox), where frames, the manager's placement and its close command exist.
# One at a time: they share the display and its keyboard focus.
echo "== windows and device runs under a window manager"
scripts/with-wm.sh ctest --test-dir build --output-on-failure -L 'ui|e2e' -LE long

# The sanitizer trees are built as unity builds: the same code in fewer, larger
# translation units, which roughly halves their build time on two cores.
echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address -DCMAKE_UNITY_BUILD=ON
(cd build-asan && ctest --output-on-failure -j3 -LE long)

echo "== ThreadSanitizer (serial link and device runs)"
tsan_labels='comm|programmer|e2e|platform'
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread -DCMAKE_UNITY_BUILD=ON >/dev/null
# Only the tests that run under TSan are built (a test's target carries its name).
mapfile -t tsan_tests < <(cd build-tsan && ctest -N -L "$tsan_labels" -LE long | awk '/Test +#/ {print $3}')
cmake --build build-tsan -j"$(nproc)" --target "${tsan_tests[@]}"
(cd build-tsan && ctest --output-on-failure -j3 -L "$tsan_labels" -LE long)
echo "== all tests passed in $(( (SECONDS - start) / 60 )) min $(( (SECONDS - start) % 60 )) s"
