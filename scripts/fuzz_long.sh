#!/usr/bin/env bash
# fuzz_long.sh TARGET EXECUTIONS
# A long run of one fuzz target (settings, reception or rules), one process,
# for EXECUTIONS inputs from the checked-in seeds, which it only reads.
# The run itself uses the fuzz-fast preset's build: UBSan only, -O2, and
# edge coverage without libFuzzer's comparison tracing, which cost reception
# and rules a third to two thirds of each execution; CTest's short runs keep
# it, to find the values a comparison wants early. Every
# input it kept is then run again, once, through the fuzz preset's build
# (AddressSanitizer and UBSan), so a memory fault those inputs reach is still
# found. New inputs go to build/fuzz-fast/long/TARGET/corpus (emptied first),
# a crashing input to build/fuzz-fast/long/TARGET/crashes/. libFuzzer's final
# lines give the executions, the time and the executions a second.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: fuzz_long.sh settings|reception|rules EXECUTIONS"
target=${1:?$usage}
runs=${2:?$usage}
[[ -f tests/fuzz/${target}_fuzz.cpp ]] || { echo "no fuzz target '$target'" >&2; exit 2; }
for preset in fuzz-fast fuzz; do
  build=build/$preset
  [[ -f $build/CMakeCache.txt ]] || cmake --preset "$preset" >/dev/null
  cmake --build "$build" -j2 --target "${target}_fuzz"
done
work=build/fuzz-fast/long/$target
# Reception keeps at most 64 bytes of a line and the rules run each record
# within a step budget: inputs past 1 KiB only repeat what shorter ones reach,
# at several times the cost. A settings file is let grow to libFuzzer's own cap.
limit=()
[[ $target == settings ]] || limit=(-max_len=1024)
# No time limit: the run stops after its executions, or at the first crash.
bash tests/fuzz/run_fuzz.sh "build/fuzz-fast/tests/fuzz/${target}_fuzz" "tests/fuzz/corpus/$target" \
  "$work" 0 -runs="$runs" "${limit[@]}"
echo "Every kept input once more, under AddressSanitizer:"
mkdir -p "$work/asan-crashes"
build/fuzz/tests/fuzz/${target}_fuzz -runs=0 -artifact_prefix="$work/asan-crashes/" \
  "$work/corpus" "tests/fuzz/corpus/$target"
