#!/usr/bin/env bash
# The 16-bit and float paths against the 8-bit path at 8192 × 4096, end to
# end through skyfold-cli: wall time and peak memory (GNU time) of to-cube
# (six 2048 faces) and to-pano (back to 8192), for
#   8-bit  PNG source → png faces (the classic warp, 8-bit PNG)
#   16-bit PNG source → png faces (16-bit, sampled straight)
#   half   EXR source → exr faces (float, sampled straight)
# and the decoded size of each source, against which memory is judged.
#
#   SKYFOLD_CLI=build/cli/skyfold-cli bench/deep_formats.sh
#
# Environment: SKYFOLD_CLI (required), WORK (/tmp/skyfold-deep-bench),
# THREADS (default: all cores), RUNS (3; the best is reported).
set -euo pipefail
export LC_ALL=C
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CLI="$(realpath "${SKYFOLD_CLI:?set SKYFOLD_CLI}")"  # the runs work in $WORK
WORK="${WORK:-/tmp/skyfold-deep-bench}"
RUNS="${RUNS:-3}"
THREADS=(${THREADS:+--threads "$THREADS"})
source "$ROOT/scripts/common.sh"
ensure_packages openimageio-tools python3-opencv python3-numpy time

mkdir -p "$WORK"
cd "$WORK"
[ -f pano.jpg ] || /usr/bin/python3 "$ROOT/bench/make_panorama.py" 8192 pano.jpg
[ -f pano8.png ] || oiiotool pano.jpg -d uint8 -o pano8.png
# A 16-bit and a half-float source with detail below the 8-bit step.
[ -f pano16.png ] || oiiotool pano.jpg -d float --addc 0.0013 -d uint16 -o pano16.png
[ -f pano.exr ] || oiiotool pano.jpg -d float --mulc 4.0 -d half -o pano.exr

# best TIME PEAK_KB of RUNS runs of the command
measure() {
  local best_t="" best_m=""
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -o "$WORK/time.txt" -f "%e %M" "$@" >/dev/null 2>&1
    local out t m
    out=$(tail -1 "$WORK/time.txt")
    t=${out% *} m=${out#* }
    if [ -z "$best_t" ] || awk "BEGIN{exit !($t < $best_t)}"; then best_t=$t; fi
    if [ -z "$best_m" ] || [ "$m" -lt "$best_m" ]; then best_m=$m; fi
  done
  echo "$best_t $best_m"
}

printf '%-28s %9s %10s %10s\n' case seconds peak_MB decoded_MB
row() {  # name decodedBytes command...
  local name=$1 decoded=$2
  shift 2
  read -r t m < <(measure "$@")
  printf '%-28s %9s %10d %10d\n' "$name" "$t" $((m / 1024)) $((decoded / 1048576))
}
px=$((8192 * 4096))
face=$((2048 * 2048))
row "to-cube 8-bit png" $((px * 3)) "$CLI" "${THREADS[@]}" to-cube -q -f -s 2048 -t png -n c8 -o . pano8.png
row "to-cube 16-bit png" $((px * 6)) "$CLI" "${THREADS[@]}" to-cube -q -f -s 2048 -t png -n c16 -o . pano16.png
row "to-cube half exr" $((px * 12)) "$CLI" "${THREADS[@]}" to-cube -q -f -s 2048 -t exr -n cf -o . pano.exr
row "to-pano 8-bit png" $((6 * face * 3)) "$CLI" "${THREADS[@]}" to-pano -q -f -w 8192 -o p8.png c8_front.png
row "to-pano 16-bit png" $((6 * face * 6)) "$CLI" "${THREADS[@]}" to-pano -q -f -w 8192 -o p16.png c16_front.png
row "to-pano half exr" $((6 * face * 12)) "$CLI" "${THREADS[@]}" to-pano -q -f -w 8192 -o pf.exr cf_front.exr
