#!/usr/bin/env bash
# Beamdock build entry point.
#   ./build.sh deps    install what a fresh Debian 12 machine lacks
#   ./build.sh build   configure and build (build/)
#   ./build.sh test    deps + build + the whole test suite, then again under ASan/UBSan
#   ./build.sh demo [factory]   the tool against the simulated detector
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD="$ROOT/build"
ASAN_BUILD="$ROOT/build-asan"
JOBS="$(nproc 2>/dev/null || echo 2)"

PACKAGES=(
  build-essential cmake pkgconf
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6charts6-dev libgl-dev
  libgtest-dev googletest
  xvfb xauth fonts-liberation
  umockdev
)

deps() {
  local missing=()
  for pkg in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure_and_build() {
  local dir="$1"; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

build() {
  configure_and_build "$BUILD"
}

run_tests() {
  local dir="$1"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" --timeout 300)
}

test_all() {
  deps
  build
  run_tests "$BUILD"
  echo "== again under AddressSanitizer and UndefinedBehaviorSanitizer =="
  configure_and_build "$ASAN_BUILD" -DBEAMDOCK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_tests "$ASAN_BUILD"
}

demo() {
  deps
  build
  "$ROOT/tools/demo.sh" "$BUILD" "$@"
}

case "${1:-build}" in
  deps) deps ;;
  build) deps; build ;;
  test) test_all ;;
  demo) shift; demo "$@" ;;
  *) echo "usage: $0 {deps|build|test|demo [factory]}" >&2; exit 2 ;;
esac
