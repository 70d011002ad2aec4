#!/usr/bin/env bash
# Builds vorn and vorn-collector, starts the collector on 127.0.0.1:8641 and
# the agent with examples/vorn.conf, shows the decoded reports for a few
# cycles, then stops both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export BUILD_DIR=build-demo
scripts/build.sh -DVORN_TESTS=OFF -DVORN_BENCH=OFF
seconds=${DEMO_SECONDS:-10}
secret=$(awk '$1 == "secret" { print $2 }' examples/vorn.conf)

"$BUILD_DIR"/vorn-collector --bind 127.0.0.1 --port 8641 --secret "$secret" --pretty &
collector=$!
sleep 0.5
"$BUILD_DIR"/vorn --config examples/vorn.conf --conf-glob 'examples/vorn.d/*.conf' &
agent=$!
trap 'kill -TERM $agent $collector 2>/dev/null || true' EXIT
sleep "$seconds"
kill -TERM "$agent"
wait "$agent" || true
kill -TERM "$collector"
wait "$collector" 2>/dev/null || true
trap - EXIT
