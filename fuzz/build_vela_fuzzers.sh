#!/bin/sh
# Builds the VELA fuzz targets with clang and libFuzzer into $1 (default
# build/fuzz-vela): ./vela_decode_fuzzer -max_total_time=300 corpus/
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/fuzz-vela}
mkdir -p "$out"
flags="-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -ffp-contract=off -I$root/include -I$root/src -DMOXCODEC_BUILDING"
for t in vela_decode_fuzzer vela_encode_fuzzer vela_bp_fuzzer; do
  clang++ $flags "$root/fuzz/$t.cpp" "$root"/src/*/*.cpp -o "$out/$t"
done
