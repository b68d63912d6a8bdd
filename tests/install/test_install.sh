#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it the way a host
# developer uses it: the installed tree holds exactly the library (versioned,
# with SONAME and development link), its header, the pkg-config and CMake
# package files and the three tools; a tiny host program builds, links and runs
# against it once through pkg-config and once through find_package; the
# installed tavikhost loads the installed library; and a moved tree still
# points at itself.
#   test_install.sh BUILD_DIR SOURCE_DIR CXX_COMPILER BUILD_TYPE [CXXFLAGS]
set -euo pipefail
build=$1 source=$2 cxx=$3 config=${4:-} flags=${5:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tavik3-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log" || {
  cat "$work/install.log" >&2; fail "cmake --install"; }

# 1. Exactly these files (the CMake targets file per build type).
config_lower=$(echo "${config:-noconfig}" | tr '[:upper:]' '[:lower:]')
expected="bin/tavikdecode
bin/tavikgen
bin/tavikhost
include/tavik3.h
lib/cmake/tavik3/tavik3Config.cmake
lib/cmake/tavik3/tavik3ConfigVersion.cmake
lib/cmake/tavik3/tavik3Targets-$config_lower.cmake
lib/cmake/tavik3/tavik3Targets.cmake
lib/libtavik3.so
lib/libtavik3.so.3
lib/libtavik3.so.3.0.0
lib/pkgconfig/tavik3.pc"
actual=$(cd "$prefix" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$(echo "$expected" | LC_ALL=C sort)" ] || {
  diff <(echo "$expected" | LC_ALL=C sort) <(echo "$actual") >&2 || true
  fail "installed files differ from the list (< expected, > installed)"; }
[ "$(readlink "$prefix/lib/libtavik3.so")" = libtavik3.so.3 ] || fail "libtavik3.so link"
[ "$(readlink "$prefix/lib/libtavik3.so.3")" = libtavik3.so.3.0.0 ] || fail "libtavik3.so.3 link"
# (grep -q would stop reading early; under pipefail the writer's SIGPIPE then fails the check.)
readelf -d "$prefix/lib/libtavik3.so.3.0.0" | grep 'Library soname: \[libtavik3\.so\.3\]' > /dev/null ||
  fail "SONAME is not libtavik3.so.3"

# 2. pkg-config: version as the header says, then build, link and run.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
header_version=$(awk '/#define TAVIK3_VERSION_(MAJOR|MINOR|PATCH)/ {v = v (v == "" ? "" : ".") $3}
                      END {print v}' "$prefix/include/tavik3.h")
[ "$(pkg-config --modversion tavik3)" = "$header_version" ] ||
  fail "pkg-config version $(pkg-config --modversion tavik3) != header $header_version"
libdir=$(pkg-config --variable=libdir tavik3)
# shellcheck disable=SC2046,SC2086
"$cxx" $flags -Wall -Wextra -Werror -o "$work/host_pc" "$source/tests/install/host_example.cpp" \
  $(pkg-config --cflags --libs tavik3) -Wl,-rpath,"$libdir" || fail "pkg-config build"
"$work/host_pc" || fail "the pkg-config host"
ldd "$work/host_pc" | grep "=> $(realpath "$prefix")/lib/libtavik3.so.3 " > /dev/null ||
  ldd "$work/host_pc" | grep "=> $libdir/libtavik3.so.3 " > /dev/null ||
  { ldd "$work/host_pc" >&2; fail "the pkg-config host does not use the installed library"; }

# 3. CMake package in a separate project.
cmake -S "$source/tests/install/host-project" -B "$work/cmake-host" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags -Wall -Wextra -Werror" > "$work/cmake-host.log" 2>&1 || {
  cat "$work/cmake-host.log" >&2; fail "find_package(tavik3) project did not configure"; }
grep -q "tavik3_DIR:PATH=$prefix/lib/cmake/tavik3" "$work/cmake-host/CMakeCache.txt" ||
  fail "find_package found another tavik3"
cmake --build "$work/cmake-host" > "$work/cmake-build.log" 2>&1 || {
  cat "$work/cmake-build.log" >&2; fail "find_package(tavik3) project did not build"; }
"$work/cmake-host/host_example" || fail "the CMake host"
# A host asking for another major version is refused.
sed 's/find_package(tavik3 3.0 /find_package(tavik3 4.0 /' \
  "$source/tests/install/host-project/CMakeLists.txt" > "$work/CMakeLists.v4"
mkdir -p "$work/v4" && cp "$work/CMakeLists.v4" "$work/v4/CMakeLists.txt"
if cmake -S "$work/v4" -B "$work/v4/build" -DCMAKE_PREFIX_PATH="$prefix" \
     -DCMAKE_CXX_COMPILER="$cxx" > "$work/v4.log" 2>&1; then
  fail "find_package(tavik3 4.0) accepted version 3"
fi
grep -q 'requested version "4.0"' "$work/v4.log" || {
  cat "$work/v4.log" >&2; fail "find_package(tavik3 4.0) failed for another reason"; }

# 4. The installed tools run; tavikhost loads the library of its own prefix.
"$prefix/bin/tavikdecode" --help > /dev/null || fail "tavikdecode --help"
"$prefix/bin/tavikgen" --help > /dev/null || fail "tavikgen --help"
loaded=$("$prefix/bin/tavikhost" --show-library) || fail "tavikhost --show-library"
[ "$loaded" = "$(realpath "$prefix/lib/libtavik3.so.3.0.0")" ] ||
  fail "installed tavikhost loads $loaded"

# 5. A moved tree: both package files and tavikhost follow it.
mv "$prefix" "$work/moved"
export PKG_CONFIG_PATH=$work/moved/lib/pkgconfig
[ "$(realpath "$(pkg-config --variable=libdir tavik3)")" = "$(realpath "$work/moved/lib")" ] ||
  fail "moved tree: pkg-config libdir $(pkg-config --variable=libdir tavik3)"
loaded=$("$work/moved/bin/tavikhost" --show-library) || fail "moved tavikhost"
[ "$loaded" = "$(realpath "$work/moved/lib/libtavik3.so.3.0.0")" ] ||
  fail "moved tavikhost loads $loaded"
echo "install tree, pkg-config host, CMake host and tools: ok"
