#!/usr/bin/env bash
# The test command: installs the test dependencies, builds, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DVORN_TESTS=ON -DVORN_BENCH=ON
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j"$(nproc)"
