#!/usr/bin/env bash
# Builds the Debian package with CPack into a temporary directory and checks it: it depends
# on FreeTDS's runtime package (the one that provides libsybdb.so.5 on this machine, found
# with dpkg -S), holds the library with its SONAME link, the header, the CMake and
# pkg-config files and the tools under /usr, its rondel.pc names /usr, and its (stripped)
# library exports exactly the library's functions.
#   package_test.sh BUILD_DIR CMAKE CPACK DPKG_DEB NM FRAME_TEST_DIR
set -euo pipefail
build=$1 cmake=$2 cpack=$3 dpkg_deb=$4 nm=$5 frame_tests=$6

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
[ -n "$dpkg_deb" ] || fail "dpkg-deb is not installed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/*.deb)
[ -f "${debs[0]}" ] || fail "no .deb in $work"
deb=${debs[0]}
"$dpkg_deb" -I "$deb"

sybdb=$(readlink -f "$(ldconfig -p | awk '$1 == "libsybdb.so.5" { print $NF; exit }')")
provider=$(dpkg -S "$sybdb" | cut -d: -f1)
[ -n "$provider" ] || fail "no package provides $sybdb"
depends=$("$dpkg_deb" -f "$deb" Depends)
echo "libsybdb.so.5 comes from $provider; Depends: $depends"
[[ ", $depends," == *", $provider "* || ", $depends," == *", $provider,"* ]] ||
  fail "Depends lacks $provider"

contents=$("$dpkg_deb" -c "$deb" | awk '{ print $6 }')
for file in ./usr/include/rondel.h ./usr/lib/librondel.so.1.0.0 ./usr/lib/librondel.so.1 \
  ./usr/lib/librondel.so ./usr/lib/cmake/Rondel/RondelConfig.cmake \
  ./usr/lib/pkgconfig/rondel.pc ./usr/bin/rondel ./usr/bin/rondel-monitor; do
  grep -qx -- "$file" <<<"$contents" || fail "the package lacks $file"
done
"$dpkg_deb" -x "$deb" "$work/root"
grep -qx 'prefix=/usr' "$work/root/usr/lib/pkgconfig/rondel.pc" ||
  fail "the packaged rondel.pc does not name /usr"
"$cmake" -DNM="$nm" -DLIBRARY="$work/root/usr/lib/librondel.so.1.0.0" \
  -P "$frame_tests/check_exports.cmake" ||
  fail "packaged library's exported symbols"
echo "package: $(basename "$deb")"
