#!/usr/bin/env bash
# Quick start for libmoxcodec.
#   ./run.sh demo   build and run the demo job on its embedded test page
#   ./run.sh test   build the native presets and the aarch64 cross build, run all
#                   tests (release and aarch64 twice: fast paths on, then MOX_SIMD=none)
#   ./run.sh bench  build the benchmarks and run the side-by-side comparison
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config libgtest-dev libjpeg62-turbo-dev libpng-dev
          libhwy-dev)
# The aarch64 cross build: compiler, emulator and the arm64 libraries.
arm64_packages=(g++-aarch64-linux-gnu qemu-user
                libgtest-dev:arm64 libjpeg62-turbo-dev:arm64 libpng-dev:arm64 libhwy-dev:arm64)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        if [[ "${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
            $sudo dpkg --add-architecture arm64
        fi
        $sudo apt-get update -q
        # Through env: sudo would drop a variable set in front of it.
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
}

build() {
    cmake --preset "$1"
    cmake --build --preset "$1" "${@:2}"
}

case "${1:-}" in
demo)
    install_missing "${packages[@]}"
    build release --target moxcodec_tool
    ./build/release/tools/moxcodec demo "${@:2}"
    ;;
test)
    install_missing "${packages[@]}" "${arm64_packages[@]}"
    # The sanitizer build runs everything; the release build runs it again
    # with the optimiser's code paths; the aarch64 build must give the same
    # bytes under qemu.
    build debug
    ctest --preset debug
    build release
    ctest --preset release
    # Once more with every stage on its reference function.
    MOX_SIMD=none ctest --preset release
    build arm64
    ctest --preset arm64
    MOX_SIMD=none ctest --preset arm64
    ;;
bench)
    install_missing "${packages[@]}" libbenchmark-dev
    build bench --target moxcodec_compare moxcodec_stages
    ./build/bench/bench/moxcodec_compare "${@:2}"
    ;;
*)
    echo "usage: ./run.sh demo | ./run.sh test | ./run.sh bench" >&2
    exit 2
    ;;
esac
