#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once normally, under a window
# manager, in a Wayland session, once under AddressSanitizer + UndefinedBehaviorSanitizer,
# the serial-link, device and command-line tests under ThreadSanitizer, and the libFuzzer
# targets for a minute each. The sanitizer passes leave out the tests labelled "long",
# whose duration is set by the device's fixed waits.
#
# Two lanes: the normal tree is built first with the whole machine; then the sanitizer
# and fuzzing trees are built in the background at idle priority (SCHED_IDLE: they get
# only the processor time the tests leave), while the passes run in the foreground, each
# as soon as its tree is ready. Most tests spend their time waiting on the device's
# fixed waits, so the builds fill those gaps. Timings of each step are printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

timings=()
mark=$SECONDS
lap() { # lap <what>: records the time since the previous lap
  timings+=("$(printf '%5d s  %s' $((SECONDS - mark)) "$1")")
  mark=$SECONDS
}
lap "installing what is missing"

# CI builds: line tables are all the debug information that sanitizer reports and
# backtraces need (full -g costs about 40 % more compile time), and gold links in less
# than half the time of the default linker.
fast=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold -DCMAKE_CXX_FLAGS_DEBUG=-g1
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

echo "== normal build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "${fast[@]}"
lap "normal build"

# The background lane. A tree is ready when its marker exists; the lane's log is shown
# if it fails.
tsan_labels='comm|programmer|e2e|platform|bench|cli'
rm -f build-asan/.built build-tsan/.built build-fuzz/.built
set -m # the lane gets a process group of its own, so that it can be stopped whole
(
  set -e
  # Idle priority where the kernel offers it, else the lowest nice value; inherited by
  # every compiler the lane starts.
  chrt --idle -p 0 "$BASHPID" >/dev/null 2>&1 || renice -n 19 -p "$BASHPID" >/dev/null
  t=$SECONDS
  # The sanitizer trees are unity builds: the same code in fewer, larger translation
  # units, which roughly halves their build time.
  scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DSANITIZE=address \
    -DCMAKE_UNITY_BUILD=ON "${fast[@]}"
  echo "$((SECONDS - t))" >build-asan/.built
  t=$SECONDS
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=ON -DSANITIZE=thread \
    -DCMAKE_UNITY_BUILD=ON "${fast[@]}" >/dev/null
  # Only the tests that run under TSan are built (a test's target carries its name).
  mapfile -t tsan_tests < <(cd build-tsan && ctest -N -L "$tsan_labels" -LE long | awk '/Test +#/ {print $3}')
  cmake --build build-tsan -j"$(nproc)" --target "${tsan_tests[@]}"
  echo "$((SECONDS - t))" >build-tsan/.built
  t=$SECONDS
  # Built with clang; the seed corpora are replayed first (ctest), then each target
  # fuzzes for a minute from them.
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DVENDRIK_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz -j"$(nproc)"
  echo "$((SECONDS - t))" >build-fuzz/.built
) >build-lane.log 2>&1 &
lane=$!
set +m
trap 'kill -- -$lane 2>/dev/null || true' EXIT

await() { # await <tree>: waits until the background lane has built it
  while [ ! -e "$1/.built" ]; do
    if ! kill -0 "$lane" 2>/dev/null; then
      [ -e "$1/.built" ] && break
      tail -n 60 build-lane.log
      echo "building $1 in the background failed (build-lane.log)"
      exit 1
    fi
    sleep 1
  done
  timings+=("$(printf '%5d s  %s (in the background)' "$(cat "$1/.built")" "building $1")")
  lap "waiting for $1"
}

echo "== normal tests"
(cd build && ctest --no-tests=error --output-on-failure -j4)
lap "normal tests, long ones included"

echo "== Debian package"
scripts/package-check.sh build
lap "Debian package and its checks"

# The window and device-run tests again, on X displays under a real window manager
# (Xvfb + openbox), where frames, the manager's placement and its close command exist:
# at 100 %, and at 150 % and 200 % (QT_SCALE_FACTOR) on a screen with room for the
# windows' places. The scaled passes run the tests whose checks hold in logical pixels;
# left out there are three placements exact to the pixel, which the toolkit misses by one
# logical pixel once scaled, as it rounds the manager's one-device-pixel border to a
# whole logical pixel. Then a Wayland session (weston, headless, with XWayland): the
# program must start there as an X11 client without a word, and a write and a read must
# run with the progress window modal in front of the main window.
# Within a pass the tests run one at a time (they share its display and keyboard focus);
# the four passes, each on a display of its own, run side by side, and their output is
# shown pass by pass.
scaled_windows() {
  ctest --test-dir build --no-tests=error --output-on-failure \
    -R '^(tst_messagebox|tst_helpwindow|tst_filedialogs|tst_toolkittexts|tst_sessionend|tst_desktopsession_e2e)$'
  local except='^(helpButtonCentresHelpWindowAndShowsItModally|outerFrameLandsAtStartPosition|centredOnMainWindowsRealFrame)[(][)]$'
  for t in build/tests/ui/tst_mainwindow build/tests/ui/tst_progresswindow; do
    mapfile -t functions < <("$t" -functions 2>/dev/null | grep -Ev "$except" | sed 's/()$//')
    QT_LOGGING_RULES='qt.qpa.*=false' "$t" -silent "${functions[@]}"
  done
}
export -f scaled_windows
passes=()
side_by_side() { # side_by_side <title> <command...>: starts one window pass
  local log="build/pass-${#passes[@]}.log"
  "${@:2}" >"$log" 2>&1 &
  passes+=("$!|$log|$1")
}
side_by_side "windows and device runs under a window manager" \
  scripts/with-wm.sh ctest --test-dir build --no-tests=error --output-on-failure -L 'ui|e2e' -LE long
for scale in 1.5 2; do
  side_by_side "windows under a window manager at scale $scale" \
    env QT_SCALE_FACTOR=$scale VENDRIK_SCREEN=2560x2048 scripts/with-wm.sh bash -euo pipefail -c scaled_windows
done
side_by_side "Wayland session (weston with XWayland)" \
  scripts/with-weston.sh ctest --test-dir build --no-tests=error --output-on-failure \
  -R '^(tst_platformchoice|tst_desktopsession_e2e)$'
failed=()
for pass in "${passes[@]}"; do
  IFS='|' read -r pid log title <<<"$pass"
  status=passed
  wait "$pid" || { status=FAILED; failed+=("$title"); }
  echo "== $title: $status"
  cat "$log"
done
((${#failed[@]} == 0)) || { printf 'failed: %s\n' "${failed[@]}"; exit 1; }
lap "window passes side by side: openbox at 100, 150 and 200 %, weston"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
await build-asan
(cd build-asan && ctest --no-tests=error --output-on-failure -j4 -LE long)
lap "ASan + UBSan tests"

echo "== ThreadSanitizer (serial link, device runs, command-line programmer)"
await build-tsan
(cd build-tsan && ctest --no-tests=error --output-on-failure -j4 -L "$tsan_labels" -LE long)
lap "TSan tests"

# Any finding fails the run; libFuzzer writes the input that found it as
# crash-*/leak-*/timeout-* in build-fuzz/findings. The two targets fuzz side by side.
echo "== libFuzzer (settings-file reader, stored-property lines), 60 s each"
await build-fuzz
(cd build-fuzz && ctest --no-tests=error --output-on-failure -L fuzz)
mkdir -p build-fuzz/findings
fuzzers=()
for target in fuzz_registryfile fuzz_storedprops; do
  work="build-fuzz/corpus-$target"
  mkdir -p "$work"
  build-fuzz/tests/fuzz/$target -max_total_time=60 -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/ "$work" "tests/fuzz/corpus/$target" \
    2>"build-fuzz/$target.log" &
  fuzzers+=("$target:$!")
done
for entry in "${fuzzers[@]}"; do
  target=${entry%%:*}
  wait "${entry##*:}" ||
    { tail -n 40 "build-fuzz/$target.log"; echo "$target: finding, see build-fuzz/findings"; exit 1; }
  grep -E '^#[0-9]+[[:space:]]+DONE' "build-fuzz/$target.log" || true
done
lap "fuzzing"

echo "== where the time went"
printf '%s\n' "${timings[@]}"
echo "== all tests passed in $(( (SECONDS - start) / 60 )) min $(( (SECONDS - start) % 60 )) s"
