#!/usr/bin/env bash
# Installs what is missing, builds Vendrik and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
exec build/app/Vendrik
