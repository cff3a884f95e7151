#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build g++ pkg-config
  # the style check of the test command
  clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libtinyxml-dev libcpp-httplib-dev nlohmann-json3-dev
  # test oracles for the geodesy, never linked into the deliverables
  libproj-dev proj-bin libgeographiclib-dev
  # BETA2007.gsb and egm96_15.gtx, the sources of the DemoGermany database and height grid
  proj-data
  # fuzzing
  clang libclang-rt-14-dev
  # browser test of the control panel
  chromium nodejs
  # the Debian package and its test: cpack's dependency scan (file), the
  # checks (lintian, systemd-analyze), the service user (adduser)
  file lintian systemd adduser
  # the load balancer in front of two instances, and its test
  haproxy
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The browser test of the control panel drives chromium through playwright-core.
(cd "$(dirname "$0")/../tests/app/browser" && npm ci --no-audit --no-fund --ignore-scripts)
