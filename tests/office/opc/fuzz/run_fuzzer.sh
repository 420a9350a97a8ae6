#!/bin/sh
# Runs the package fuzzer for a bounded time, seeded with the real decks, documents and bad files.
# usage: run_fuzzer.sh FUZZER CORPUS_DIR WORK_DIR SECONDS
set -eu
fuzzer=$1 corpus=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/found" "$work/artifacts"
export TMPDIR="$work"
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/found" "$corpus/pptx" "$corpus/docx" "$corpus/bad"
