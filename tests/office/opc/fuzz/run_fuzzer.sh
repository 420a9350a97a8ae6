#!/bin/sh
# Runs a fuzzer for a bounded time, seeded with corpus folders (the decks, documents and bad files by default).
# usage: run_fuzzer.sh FUZZER CORPUS_DIR WORK_DIR SECONDS [SEED_SUBFOLDERS...]
set -eu
fuzzer=$1 corpus=$2 work=$3 seconds=$4
shift 4
seeds=""
if [ $# -eq 0 ]; then set -- pptx docx bad; fi
for sub in "$@"; do seeds="$seeds $corpus/$sub"; done
rm -rf "$work"
mkdir -p "$work/found" "$work/artifacts"
export TMPDIR="$work"
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/found" $seeds
