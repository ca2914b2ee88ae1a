#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Vendrik, if missing.
set -euo pipefail
packages=(
  build-essential cmake
  qt6-base-dev qt6-base-dev-tools libgl-dev   # Qt 6 Widgets and Qt Test
  qt6-translations-l10n                       # the toolkit's own texts in Russian
  libfontconfig-dev                           # read the font configuration ahead at start-up
  fonts-liberation                            # Liberation Sans stands in for MS Sans Serif
  xvfb xauth                                  # running the program with no display
  clang-14 libclang-rt-14-dev                 # the libFuzzer targets (tests/fuzz)
  dpkg-dev file lintian                       # the Debian package and its checks
  desktop-file-utils appstream                # menu entry and AppStream data checks
  openbox x11-utils xdotool libxcb1-dev       # window tests under a window manager
  libsm-dev libice-dev                        # a session manager's logout (tools/xsmp-logout)
  weston xwayland qt6-wayland                 # the Wayland session pass; with the toolkit's
                                              # Wayland plug-in present, as on a KDE desktop
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
