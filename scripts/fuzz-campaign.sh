#!/usr/bin/env bash
# The long fuzzing campaign: builds the fuzz preset and types at least
# STEPS keystroke steps (default 10,000,000) through the typing target, in
# rounds that share one corpus, then runs the settings target for a hundredth as
# many inputs, and prints the figures. A finding stops the campaign with
# libFuzzer's report; the input that broke it is left in build/fuzz/findings.
#   usage: scripts/fuzz-campaign.sh [STEPS]
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-10000000}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

out=build/fuzz/findings
mkdir -p "$out" build/fuzz/corpus/typing build/fuzz/corpus/settings
start=$(date +%s)

steps=0
runs=0
while [ "$steps" -lt "$target" ]; do
  log=$(TAVIK_FUZZ_STEPS=1 build/fuzz/tavik_typing_fuzz -max_len=8192 -len_control=0 -runs=20000 \
          -artifact_prefix="$out/" build/fuzz/corpus/typing 2>&1) || { echo "$log" | tail -40; exit 1; }
  steps=$((steps + $(echo "$log" | sed -n 's/^steps: //p')))
  runs=$((runs + 20000))
  echo "typing: $runs inputs, $steps steps, $(echo "$log" | grep -o 'cov: [0-9]*' | tail -1)"
done
echo "typing: $runs inputs, $steps steps in $(( $(date +%s) - start )) s, no finding"

start=$(date +%s)
log=$(build/fuzz/tavik_settings_fuzz -max_len=600 -dict=tests/fuzz/settings.dict -runs=$((target / 100)) \
        -artifact_prefix="$out/" build/fuzz/corpus/settings 2>&1) || { echo "$log" | tail -40; exit 1; }
echo "settings: $((target / 100)) inputs in $(( $(date +%s) - start )) s, $(echo "$log" | grep -o 'cov: [0-9]*' | tail -1), no finding"
