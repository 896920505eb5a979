#!/usr/bin/env bash
# Beamdock build entry point.
#   ./build.sh deps    install what a fresh Debian 12 machine lacks
#   ./build.sh build   configure and build (build/)
#   ./build.sh test    deps + build + the whole test suite, then again under ASan/UBSan
#   ./build.sh demo [factory]   the tool against the simulated detector
#   ./build.sh package  the Debian package (build/beamdock_VERSION_ARCH.deb)
#   ./build.sh install-test     (root) install that package here and read the
#                       installed simulator with the installed command line
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD="$ROOT/build"
ASAN_BUILD="$ROOT/build-asan"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Every Debian package whose headers, libraries, tools or CMake packages the
# build and the tests use, named directly: nothing may arrive only as a
# recommendation, because apt runs with --no-install-recommends.
PACKAGES=(
  build-essential cmake pkgconf
  qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  libgtest-dev googletest
  xvfb xauth fonts-liberation
  umockdev
  tzdata   # named zones for local times in the event log (Qt reads /usr/share/zoneinfo)
  libqt6sql6-sqlite libqt6sql6-psql   # the history database's drivers (station file, site server)
  postgresql   # the server the history tests start a throwaway cluster of
)

# CMake package -> the Debian package that provides it. The probe asks for
# each after installing; Qt6Charts' own package needs Qt6OpenGL and
# Qt6OpenGLWidgets, so those are asked for by name as well.
CMAKE_PACKAGES=(
  Qt6Core:qt6-base-dev
  Qt6Gui:qt6-base-dev
  Qt6Widgets:qt6-base-dev
  Qt6SerialPort:qt6-serialport-dev
  Qt6OpenGL:libqt6opengl6-dev
  Qt6OpenGLWidgets:libqt6opengl6-dev
  Qt6Charts:qt6-charts-dev
  Qt6Sql:qt6-base-dev
  GTest:libgtest-dev
)

# Only for ./build.sh package: dpkg-shlibdeps (dpkg-dev, file) for the
# dependencies, and the validators of the desktop entry and AppStream data.
PACKAGE_TOOLS=(dpkg-dev file desktop-file-utils appstream)

missing_packages() {
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || echo "$pkg"
  done
}

# Configures tools/cmake-probe, which asks for every CMake package above;
# prints each one missing with the Debian package that provides it.
check_cmake_packages() {
  local probe names=() failed=0
  probe="$(mktemp -d)"
  for entry in "${CMAKE_PACKAGES[@]}"; do names+=("${entry%%:*}"); done
  local list
  list="$(IFS=';'; echo "${names[*]}")"
  local output
  output="$(cmake -S "$ROOT/tools/cmake-probe" -B "$probe" -DPROBE_PACKAGES="$list" 2>&1)" || {
    echo "$output" >&2
    rm -rf "$probe"
    echo "build.sh: the CMake package check could not run" >&2
    return 1
  }
  rm -rf "$probe"
  for entry in "${CMAKE_PACKAGES[@]}"; do
    local name="${entry%%:*}" debian="${entry#*:}"
    if grep -qx -- "-- MISSING $name" <<<"$output"; then
      echo "build.sh: CMake package $name not found: install the Debian package $debian" >&2
      failed=1
    fi
  done
  return "$failed"
}

deps() {
  local missing
  mapfile -t missing < <(missing_packages "${PACKAGES[@]}" "$@")
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  check_cmake_packages
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

package() {
  deps "${PACKAGE_TOOLS[@]}"
  build
  desktop-file-validate "$ROOT/packaging/beamdock.desktop"
  appstreamcli validate --no-net --pedantic "$ROOT/packaging/com.corvath.beamdock.metainfo.xml"
  rm -f "$BUILD"/beamdock_*.deb
  (cd "$BUILD" && cpack -G DEB >/dev/null)
  ls "$BUILD"/beamdock_*.deb
}

# Installs the package with apt into this machine (CI runs it inside a fresh
# root) and uses the installed programs as a technician would.
install_test() {
  [ "$(id -u)" -eq 0 ] || { echo "build.sh install-test: needs root (it installs the package)" >&2; exit 2; }
  package
  local deb
  deb="$(ls "$BUILD"/beamdock_*.deb)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >/dev/null
  local work sim_pid status=0
  work="$(mktemp -d)"
  beamdock-cli --version
  for file in /usr/lib/udev/rules.d/70-beamdock.rules /usr/share/applications/beamdock.desktop \
              /usr/share/metainfo/com.corvath.beamdock.metainfo.xml /usr/share/man/man1/beamdock-cli.1; do
    [ -f "$file" ] || { echo "install-test: $file is missing" >&2; status=1; }
  done
  varnolite-sim --link "$work/ttyVARNO" --state "$work/detector.state" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 50); do [ -e "$work/ttyVARNO" ] && break; sleep 0.1; done
  (cd "$work" && beamdock-cli --port "$work/ttyVARNO" read) || status=$?
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
  if [ "$status" -ne 0 ]; then
    echo "install-test: FAILED ($status)" >&2
    return 1
  fi
  echo "install-test: the installed programs work"
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
  package) package ;;
  install-test) install_test ;;
  *) echo "usage: $0 {deps|build|test|demo [factory]|package|install-test}" >&2; exit 2 ;;
esac
