#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the installed files and
# the pkg-config data, then builds examples/decode_callbacks.c against the
# installed CMake package and checks that it decodes a stream written by our
# encoder to the same pixels as the tool.
#   install_example.sh BUILD_DIR SOURCE_DIR TOOL [EXTRA_C_FLAGS]
set -euo pipefail

build=$1 source=$2 tool=$3 cflags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "install_example: $*" >&2; exit 1; }

# A cross build runs its programs through an emulator and builds the example
# with its own toolchain file (both given by CTest in the environment).
launch() { ${MOX_LAUNCHER:-} "$@"; }
toolchain=()
[ -n "${MOX_TOOLCHAIN_FILE:-}" ] && toolchain=(-DCMAKE_TOOLCHAIN_FILE="$MOX_TOOLCHAIN_FILE")

# A small page and a stream of it, made by our own encoder.
launch "$tool" demo --out "$work/demo" --size 96x80 --repeat 1 >/dev/null || fail "the demo failed"
launch "$tool" encode "$work/demo/page.png" "$work/page.jpg" --quality 6 --restart 3 \
    || fail "the tool cannot encode"
launch "$tool" decode "$work/page.jpg" "$work/tool.ppm" || fail "the tool cannot decode"

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"

libdir=$(dirname "$(find "$prefix" -name 'libmoxcodec.so.1' | head -n 1)")
[ -n "$libdir" ] && [ -e "$libdir/libmoxcodec.so.1" ] || fail "libmoxcodec.so.1 not installed"
for f in "$prefix/include/moxcodec.h" "$libdir/libmoxcodec.so" \
         "$libdir/cmake/moxcodec/moxcodecConfig.cmake" \
         "$libdir/cmake/moxcodec/moxcodecConfigVersion.cmake" \
         "$libdir/pkgconfig/moxcodec.pc" "$prefix/bin/moxcodec"; do
    [ -e "$f" ] || fail "missing after install: ${f#$prefix/}"
done
soname=$(readelf -d "$libdir/libmoxcodec.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libmoxcodec.so.1" ] || fail "SONAME is '$soname', want libmoxcodec.so.1"

# pkg-config resolves paths inside the prefix, wherever it is.
export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion moxcodec)
[ "$version" = "1.10.0" ] || fail "pkg-config version is '$version', want 1.10.0"
incdir=$(pkg-config --variable=includedir moxcodec)
[ -e "$incdir/moxcodec.h" ] || fail "pkg-config includedir '$incdir' holds no moxcodec.h"

# The installed tool finds the installed library by its RPATH.
launch "$prefix/bin/moxcodec" version | grep -q '^MOXCODECLIB, Version 01.10.00$' \
    || fail "the installed tool does not run"

cmake -S "$source/examples" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" "${toolchain[@]}" \
      -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null \
    || fail "configuring the example against the package failed"
cmake --build "$work/example" >/dev/null || fail "building the example failed"

for piece in 700 4096; do
    LD_LIBRARY_PATH=$libdir launch "$work/example/decode_callbacks" "$work/page.jpg" \
        "$work/example.ppm" "$piece" 7 >/dev/null || fail "the example failed (piece $piece)"
    cmp -s "$work/example.ppm" "$work/tool.ppm" \
        || fail "the example's pixels differ from the tool's (piece $piece)"
done
echo "install_example: installed package, pkg-config and example all work"
