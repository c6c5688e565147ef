#!/usr/bin/env bash
# run_fuzz.sh TARGET SEED_DIR WORK_DIR SECONDS [libFuzzer options...]
# The seeds are only read; new inputs go to WORK_DIR/corpus, emptied first so
# that every run starts from the seeds alone, a crashing input to crashes/.
set -euo pipefail
target=$1 seeds=$2 work=$3 seconds=$4
shift 4
# A fixed seed: the same build explores the same inputs in the same order.
readonly random_seed=20261206
# Longest time one input may take before it counts as a hang.
readonly input_timeout_s=10
rm -rf "$work/corpus" "$work/crashes"
mkdir -p "$work/corpus" "$work/crashes"
exec "$target" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -seed="$random_seed" -timeout="$input_timeout_s" \
  -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
