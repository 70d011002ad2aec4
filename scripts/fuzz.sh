#!/usr/bin/env bash
# Builds the JSON reader's fuzz target with clang (libFuzzer and
# AddressSanitizer) and runs it for ${FUZZ_SECONDS:-60} seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${BUILD_DIR:-build}/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address -Isrc \
  tests/fuzz/fuzz_nxjson.cpp src/nxjson.cpp src/vorn_json.cpp -o "$out/fuzz_nxjson"
cp tests/data/*.json "$out/corpus/" 2>/dev/null || true
"$out/fuzz_nxjson" -max_total_time="${FUZZ_SECONDS:-60}" -close_fd_mask=2 "$out/corpus"
