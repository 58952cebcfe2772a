#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when
# any of them is missing. Sourced by demo.sh and test.sh.
picwren_packages=(
  cmake g++ make pkg-config
  libusb-1.0-0-dev libinih-dev
  libgtest-dev googletest
  umockdev libumockdev-dev
  srecord gputils tmux
  clang libclang-rt-14-dev
)
picwren_missing=()
for p in "${picwren_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || picwren_missing+=("$p")
done
if [ ${#picwren_missing[@]} -gt 0 ]; then
  echo "installing: ${picwren_missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${picwren_missing[@]}" >/dev/null
fi
