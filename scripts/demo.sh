#!/usr/bin/env bash
# Try Vendrik without a device: builds what is missing, starts the simulated Мелдор-2 on
# COM1 and the program with a sample program already chosen, all in a throw-away
# settings folder; your own settings and port mappings are not touched. Closing the
# program stops the simulator and removes the folder. Options are passed on to the
# simulator, e.g.  scripts/demo.sh --random-faults 0.05
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$(nproc)" --target Vendrik meldor2-sim

demo=$(mktemp -d -t vendrik-demo.XXXXXX)
sim=
finish() {
  if [ -n "$sim" ] && kill -0 "$sim" 2>/dev/null; then
    kill -TERM "$sim"
    wait "$sim" || true
  fi
  rm -rf "$demo"
}
trap finish EXIT
trap 'exit 130' INT TERM

export XDG_CONFIG_HOME=$demo/config
mkdir -p "$XDG_CONFIG_HOME/vendrik"

# A sample program of 32 sectors (8192 bytes): a write takes about ten seconds.
sample=$demo/sample-program.bin
for i in $(seq 0 255); do printf 'Meldor-2 sample program, line %03d\n' "$i"; done | head -c 8192 >"$sample"

# The settings the program reads when its window opens: COM1, no check, the sample file.
cat >"$XDG_CONFIG_HOME/vendrik/user.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Vendrik\\TformMain]
"FormVersion"="0"
"cbCheck_Checked"="False"
"cbPort_Tag"="0"
"OpenDialog1_FileName"="$sample"

REG

build/tools/meldor2-sim --com 1 --log "$demo/simulator.log" "$@" </dev/null &
sim=$!
for _ in $(seq 1 100); do
  [ -L "$XDG_CONFIG_HOME/vendrik/dosdevices/com1" ] && break
  kill -0 "$sim" 2>/dev/null || { echo "the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
echo "Vendrik with the simulated Мелдор-2 on COM1 and $sample loaded."
echo "Press Write (Записать программу) or Read (Считать); close the window to stop."
build/app/Vendrik
