#!/usr/bin/env bash
# Fuzzes one target for a number of seconds from its seed corpus (when
# there is one); new inputs and crash artifacts go below the work folder.
#   run_target.sh <binary> <seconds> <work folder> <seed folder>
set -euo pipefail
binary=$1 seconds=$2 work=$3 seeds=$4
mkdir -p "$work/corpus" "$work/artifacts"
folders=("$work/corpus")
[ -d "$seeds" ] && folders+=("$seeds")
exec "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${folders[@]}"
