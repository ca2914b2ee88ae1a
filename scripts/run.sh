#!/usr/bin/env bash
# Installs what is missing, builds Vendrik and starts it.
# Only the program's target is built, in the same tree and with the same settings as
# scripts/test.sh, so the two scripts can run in either order on one checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$(nproc)" --target Vendrik
exec build/app/Vendrik
