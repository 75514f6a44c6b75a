#!/usr/bin/env bash
# Quick start for libmoxcodec.
#   ./run.sh demo   build and run the demo job on its embedded test page
#   ./run.sh test   build both presets and run the whole test suite, then
#                   the fuzz targets (corpus replay, 30 s each) and the
#                   thread tests under ThreadSanitizer
#   ./run.sh fuzz [SECONDS]
#                   fuzz every target for SECONDS (default 60) from its seeds
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config libgtest-dev libjpeg62-turbo-dev libpng-dev
          clang-14 libclang-rt-14-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
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
    install_missing
    build release --target moxcodec_tool
    ./build/release/tools/moxcodec demo "${@:2}"
    ;;
test)
    install_missing
    # The sanitizer build runs everything; the release build runs it again
    # with the optimiser's code paths.
    build debug
    ctest --preset debug
    build release
    ctest --preset release
    # libFuzzer targets: every seed replayed, then a short run from them.
    build fuzz
    ctest --preset fuzz
    # The concurrent jobs and the error-log thread test under ThreadSanitizer.
    build tsan
    ctest --preset tsan
    ;;
fuzz)
    install_missing
    build fuzz
    for target in header decode encode; do
        fuzz/run_target.sh "build/fuzz/fuzz/fuzz_$target" "${2:-60}" \
            "build/fuzz/fuzz/work/$target" "fuzz/corpus/$target"
    done
    ;;
*)
    echo "usage: ./run.sh demo | ./run.sh test | ./run.sh fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
