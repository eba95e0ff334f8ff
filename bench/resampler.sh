#!/usr/bin/env bash
# Times the general resampler (--filter bilinear / bicubic / lanczos3)
# against the classic path and the codec floor, end to end as whole
# skyfold-cli processes: a panorama of width W into six faces of W/4 (JPEG)
# and those faces back into a W-wide panorama. The classic path only goes
# up to faces of 4096 and panoramas of 16384, so wider panoramas are timed
# against the codec floor alone: djpeg of the source(s) plus cjpeg -quality
# 100 of each result, a process per file. Prints a table of median wall
# time and peak RSS per case, the ratios to the design path and to the
# floor, and peak RSS over the decoded panorama (W × W/2 × 3 bytes).
#
# usage: bench/resampler.sh            # WIDTHS="8192 32768" RUNS=3
# Settings: WIDTHS, RUNS, THREADS (2), WORK (/tmp/skyfold-resampler),
# SKYFOLD_CLI (default: build/cli/skyfold-cli), PYTHON (/usr/bin/python3).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WIDTHS="${WIDTHS:-8192 32768}"
RUNS="${RUNS:-3}"
THREADS="${THREADS:-2}"
WORK="${WORK:-/tmp/skyfold-resampler}"
SKY="${SKYFOLD_CLI:-$ROOT/build/cli/skyfold-cli}"
PYTHON="${PYTHON:-/usr/bin/python3}"
FILTERS="${FILTERS:-design bilinear bicubic lanczos3}"

for tool in djpeg cjpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "needs $tool (apt-get install -y libjpeg-turbo-progs time)" >&2
    exit 1
  }
done
[ -x "$SKY" ] || {
  echo "no skyfold-cli at $SKY (build it first)" >&2
  exit 1
}
mkdir -p "$WORK"

# timed OUT_VAR CMD... : "wall_seconds peak_kb" of one whole-process run.
timed() {
  local -n out_ref="$1"
  shift
  local start end
  start="$EPOCHREALTIME"
  /usr/bin/time -f %M -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/stderr.txt" || {
    cat "$WORK/stderr.txt" >&2
    return 1
  }
  end="$EPOCHREALTIME"
  out_ref="$(awk -v s="$start" -v e="$end" 'NR==FNR{kb=$1; next} END{printf "%.3f %d", e-s, kb}' \
    "$WORK/time.txt" /dev/null)"
}

median() { sort -n | awk '{a[NR]=$1} END{print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

printf '| width | direction | case | wall s (median of %s) | peak MB | vs design | vs floor | peak / panorama |\n' "$RUNS"
printf '|---|---|---|---|---|---|---|---|\n'

for W in $WIDTHS; do
  F=$((W / 4))
  pano="$WORK/pano$W.jpg"
  [ -f "$pano" ] || "$PYTHON" "$ROOT/bench/make_panorama.py" "$W" "$pano"
  faces="$WORK/faces$W"
  mkdir -p "$faces" "$WORK/ppm$W"
  if [ ! -f "$faces/p_front.jpg" ]; then
    "$SKY" --threads "$THREADS" to-cube -q -f -s "$F" --filter bilinear -t jpg -n p -o "$faces" \
      "$pano"
  fi
  # The floor's encoder inputs: the decoded results.
  for s in left front right back top bottom; do
    [ -f "$WORK/ppm$W/$s.ppm" ] || djpeg -outfile "$WORK/ppm$W/$s.ppm" "$faces/p_$s.jpg"
  done
  [ -f "$WORK/ppm$W/pano.ppm" ] || djpeg -outfile "$WORK/ppm$W/pano.ppm" "$pano"
  decoded_mb=$((W * W / 2 * 3 / 1000000))

  floor_forward() {
    djpeg -outfile /dev/null "$pano"
    for s in left front right back top bottom; do
      cjpeg -quality 100 -outfile "$WORK/floor.jpg" "$WORK/ppm$W/$s.ppm"
    done
  }
  floor_inverse() {
    for s in left front right back top bottom; do djpeg -outfile /dev/null "$faces/p_$s.jpg"; done
    cjpeg -quality 100 -outfile "$WORK/floor.jpg" "$WORK/ppm$W/pano.ppm"
  }
  export -f floor_forward floor_inverse
  export pano faces W WORK

  for direction in forward inverse; do
    declare -A walls=() peaks=()
    cases=(floor)
    for filter in $FILTERS; do
      # The classic path stops at faces of 4096 and panoramas of 16384.
      if [ "$filter" = design ] && [ "$W" -gt 16384 ]; then continue; fi
      cases+=("$filter")
    done
    for ((run = 0; run < RUNS; run++)); do
      for c in "${cases[@]}"; do
        out=""
        if [ "$c" = floor ]; then
          timed out bash -c "floor_$direction"
        elif [ "$direction" = forward ]; then
          opts=(-s "$F")
          [ "$c" = design ] || opts+=(--filter "$c")
          timed out "$SKY" --threads "$THREADS" to-cube -q -f "${opts[@]}" -t jpg -n o \
            -o "$WORK" "$pano"
        else
          opts=(-w "$W")
          [ "$c" = design ] || opts+=(--filter "$c")
          timed out "$SKY" --threads "$THREADS" to-pano -q -f "${opts[@]}" \
            -o "$WORK/back.jpg" "$faces/p_front.jpg"
        fi
        walls[$c]+="${out% *} "
        peak="${out#* }"
        [ "${peaks[$c]:-0}" -ge "$peak" ] || peaks[$c]="$peak"
      done
    done
    floor_wall="$(tr ' ' '\n' <<<"${walls[floor]}" | grep . | median)"
    design_wall=""
    if [ -n "${walls[design]:-}" ]; then
      design_wall="$(tr ' ' '\n' <<<"${walls[design]}" | grep . | median)"
    fi
    for c in "${cases[@]}"; do
      wall="$(tr ' ' '\n' <<<"${walls[$c]}" | grep . | median)"
      mb=$((peaks[$c] / 1000))
      vs_design="–"
      [ -z "$design_wall" ] || vs_design="$(awk -v a="$wall" -v b="$design_wall" 'BEGIN{printf "%.2f×", a/b}')"
      vs_floor="$(awk -v a="$wall" -v b="$floor_wall" 'BEGIN{printf "%.2f×", a/b}')"
      ratio="$(awk -v a="$mb" -v b="$decoded_mb" 'BEGIN{printf "%.2f×", a/b}')"
      printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$W" "$direction" "$c" "$wall" "$mb" \
        "$vs_design" "$vs_floor" "$ratio"
    done
    unset walls peaks
  done
done
