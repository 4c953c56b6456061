#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what went there, and builds and runs
# the small host (host/host.cc) against it twice: as a CMake project with
# find_package(Rondel), and with a plain compiler line from pkg-config. Each run has no
# database (the settings name a closed loopback port), empty snapshot and work directories,
# and the installed rondel-monitor listening where RONDEL_DIAG_TARGET points, so the host's
# KvDebugDb text must arrive there.
#   install_test.sh BUILD_DIR CMAKE CXX HOST_FLAGS PKG_CONFIG READELF NM FRAME_TEST_DIR
set -euo pipefail
build=$1 cmake=$2 cxx=$3 host_flags=$4 pkg_config=$5 readelf=$6 nm=$7 frame_tests=$8
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ -n "$pkg_config" ] || fail "pkg-config is not installed (scripts/setup installs it)"
[ -n "$readelf" ] || fail "readelf is not installed (binutils)"

work=$(mktemp -d)
monitor_pid=
cleanup() {
  if [ -n "$monitor_pid" ]; then kill "$monitor_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }

for file in include/rondel.h lib/librondel.so lib/librondel.so.1 lib/librondel.so.1.0.0 \
  lib/cmake/Rondel/RondelConfig.cmake lib/cmake/Rondel/RondelConfigVersion.cmake \
  lib/pkgconfig/rondel.pc bin/rondel bin/rondel-monitor; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
soname=$("$readelf" -d "$prefix/lib/librondel.so.1.0.0" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = librondel.so.1 ] || fail "SONAME is '$soname', not librondel.so.1"
[ "$(readlink "$prefix/lib/librondel.so")" = librondel.so.1 ] || fail "librondel.so link"
# The installed copy exports exactly the library's functions, as the built one does.
"$cmake" -DNM="$nm" -DLIBRARY="$prefix/lib/librondel.so.1.0.0" \
  -P "$frame_tests/check_exports.cmake" ||
  fail "installed library's exported symbols"

cat >"$work/Korvane.ini" <<'INI'
[MainServer]
DataBaseServerIp=127.0.0.1
DataBaseServerPort=1
INI
if [ -n "$host_flags" ]; then
  echo "the library is a sanitizer build: hosts are built with $host_flags"
fi

# Runs the host binary $1 under the name $2 and checks its answers, the library it
# loaded and the datagram the monitor received.
run_host() {
  local host=$1 name=$2
  local run=$work/run-$name
  mkdir -p "$run/snapshots" "$run/cwd"
  "$prefix/bin/rondel-monitor" --listen 127.0.0.1:0 --count >"$run/monitor.out" \
    2>"$run/monitor.err" &
  monitor_pid=$!
  local port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^rondel-monitor: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' \
      "$run/monitor.err")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || fail "$name: the installed rondel-monitor did not listen"

  local loaded
  loaded=$(LD_LIBRARY_PATH="$prefix/lib" ldd "$host" | awk '$1 == "librondel.so.1" { print $3 }')
  [ "$loaded" = "$prefix/lib/librondel.so.1" ] ||
    fail "$name: loads librondel.so.1 from '$loaded', not the prefix"

  local status=0
  (cd "$run/cwd" && LD_LIBRARY_PATH="$prefix/lib" RONDEL_DIAG_TARGET="127.0.0.1:$port" \
    RONDEL_SNAPSHOT_DIR="$run/snapshots" RONDEL_SETTINGS_FILE="$work/Korvane.ini" \
    "$host") >"$run/host.out" 2>&1 || status=$?
  kill -INT "$monitor_pid"
  wait "$monitor_pid" || fail "$name: rondel-monitor exited with status $?"
  monitor_pid=
  cat "$run/host.out"
  [ "$status" -eq 0 ] || fail "$name: the host exited with status $status"
  grep -q '^      1  installed host$' "$run/monitor.out" ||
    { cat "$run/monitor.out"; fail "$name: the host's KvDebugDb text did not arrive"; }
  echo "$name: host answered offline as expected; its KvDebugDb text arrived"
}

# find_package(Rondel) in a CMake project, found through CMAKE_PREFIX_PATH.
"$cmake" -S "$here/host" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$host_flags" \
  >"$work/cmake-host.log" 2>&1 &&
  "$cmake" --build "$work/cmake-host" >>"$work/cmake-host.log" 2>&1 ||
  { cat "$work/cmake-host.log"; fail "building the host with find_package(Rondel)"; }
run_host "$work/cmake-host/host" find_package

# pkg-config, with the prefix's pkgconfig directory only.
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" PKG_CONFIG_LIBDIR= "$pkg_config" \
  --cflags --libs rondel) || fail "pkg-config does not know rondel"
echo "pkg-config --cflags --libs rondel: $flags"
# shellcheck disable=SC2086  # the flags are words
"$cxx" $host_flags "$here/host/host.cc" -o "$work/pkg-config-host" $flags ||
  fail "building the host with pkg-config"
run_host "$work/pkg-config-host" pkg-config
