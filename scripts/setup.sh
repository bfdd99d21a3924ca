#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Run as root (or with sudo
# available) on Debian 12.
set -euo pipefail

packages=(
  # the build
  build-essential g++ clang cmake ninja-build pkg-config
  nlohmann-json3-dev libutf8proc-dev
  # the Linux backend: AT-SPI over D-Bus, windows over X11
  libdbus-1-dev libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-res0-dev
  # a virtual desktop with real applications (the demo and the end-to-end tests)
  xvfb dbus at-spi2-core openbox libgtk-3-dev libatk-adaptor gtk-3-examples python3
  x11-utils libxtst6
  # the end-to-end tests' application in GTK 4 and Qt, gtk4-widget-factory, the browsers, and
  # the independent reading of what they show
  libgtk-4-dev gtk-4-examples qtbase5-dev qt6-base-dev firefox-esr chromium python3-pyatspi
  # applications without an accessibility tree (the end-to-end tests): a terminal, Tk
  xterm tk
  # tests, fuzzing, benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev librapidcheck-dev libvalijson-dev
  libfuzzer-14-dev libclang-rt-14-dev python3-jsonschema libatspi2.0-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
# Set through env, not exported: sudo drops the caller's environment.
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  --no-install-recommends "${missing[@]}"
