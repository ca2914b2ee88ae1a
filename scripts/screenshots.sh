#!/usr/bin/env bash
# screenshots.sh [build-dir]: draws the screenshots the documents and the AppStream data
# show (docs/pictures: main window, progress window writing, help window) at 1x and 2x,
# from the program's own windows, offscreen. tst_screenshots fails until they are drawn
# again after a window changed; look at each before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j"$(nproc)" --target render_windows >/dev/null
mkdir -p docs/pictures
rm -f docs/pictures/*.png
for ratio in 1 2; do
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$ratio \
    "$build/tools/render_windows/render_windows" --screenshots docs/pictures
done
