#!/usr/bin/env bash
# run_target.sh BINARY SEEDS SECONDS [CORPUS]: runs one fuzz target for
# SECONDS with a fixed seed over the seed corpus. New inputs go to CORPUS
# (a fresh temporary folder when not given). A crashing input is saved in
# $FUZZ_ARTIFACTS (default: the current folder); exits non-zero then.
set -euo pipefail
binary=$1 seeds=$2 seconds=$3 corpus=${4:-}
if [ -z "$corpus" ]; then
  corpus=$(mktemp -d)
  trap 'rm -rf "$corpus"' EXIT
fi
mkdir -p "$corpus" "$seeds"
exec "$binary" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="${FUZZ_ARTIFACTS:-$PWD}/" "$corpus" "$seeds"
