#!/usr/bin/env bash
# Coverage-guided fuzzing of the text-block parser and the BMP fallback with
# libFuzzer (clang-14), ASan+UBSan on. Usage: scripts/fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
export CCACHE_BASEDIR="$PWD"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQVR_FUZZ=ON -DQVR_SANITIZE=address,undefined > /dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_TextBlock fuzz_Bmp
for target in TextBlock Bmp; do
    corpus=tests/fuzz/corpus/$( [ $target = Bmp ] && echo bmp || echo text )
    work=build-fuzz/corpus-$target
    mkdir -p "$work"
    build-fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=8192 "$work" "$corpus"
done
