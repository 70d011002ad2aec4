#!/usr/bin/env bash
# Builds vorn and runs it in debug mode with the example configuration for a
# few cycles, then stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DVORN_TESTS=OFF -DVORN_BENCH=OFF
seconds=${DEMO_SECONDS:-8}
build/vorn --debug --config examples/vorn.conf --conf-glob 'examples/vorn.d/*.conf' &
agent=$!
trap 'kill -TERM $agent 2>/dev/null || true' EXIT
sleep "$seconds"
kill -TERM "$agent"
wait "$agent"
trap - EXIT
