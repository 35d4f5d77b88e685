#!/usr/bin/env bash
# Every figure of the model runtime's speed and memory, in one run:
#   bench/ml-figures.sh [BUILD_DIR] [MODEL_DIR]
# BUILD_DIR defaults to build/release; MODEL_DIR (default /tmp/zv-ml-models)
# keeps the generated random-weight models of the published sizes between
# runs (large-v3-turbo takes 1.6 GB). Quote the load (first line) with every
# figure: on a busy machine the neighbours set the pace.
set -euo pipefail
build=${1:-build/release}
models=${2:-/tmp/zv-ml-models}
ml="$build/bench/ml/ml_bench"
engine="$build/bench/engine/engine_bench"
quiet=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
mkdir -p "$models"

echo "== load: $(uptime)"
echo "== decoder, ms per token at 2, 4 and 8 threads (median and min of 5)"
for threads in 2 4 8; do
    "$ml" --threads=$threads --keep-models="$models" --benchmark_filter='decoder_token' \
        "${quiet[@]}" 2>/dev/null | grep -E '_(median|min) '
done

echo "== encoder at 8 threads against the sgemm ceiling of the same run"
"$ml" --threads=8 --keep-models="$models" --benchmark_filter='(sgemm_ceiling|encoder_window)' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '_min |^encoder '

echo "== default thread count under an affinity mask of 3 processors (expect threads=3)"
taskset -c 0-2 "$ml" --keep-models="$models" --benchmark_filter='mel_window/tiny' \
    --benchmark_min_time=0.01 2>/dev/null | grep -o 'threads=[0-9]*'

echo "== large-v3-turbo: engine load with the weights in the page cache, peak memory"
cat "$models"/large-v3-turbo/*/weights.bin >/dev/null
"$engine" --preset large-v3-turbo --models "$models/large-v3-turbo" --work "$models/engine" \
    --seconds 30 --threads 8 | grep -E 'engine load|peak resident'
du -cb "$models"/large-v3-turbo/*/weights.bin | tail -1

echo "== end to end: 60 s of audio, base, 4 threads (three runs)"
"$engine" --preset base --models "$models/base" --work "$models/engine" --seconds 60 \
    --threads 4 --runs 3 | grep -E 'engine load|real-time factor'
echo "== load: $(uptime)"
