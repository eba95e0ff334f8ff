#!/usr/bin/env bash
# Side-by-side timing of skyfold-cli and what users pick instead: an OpenCV
# cv2.remap script and FFmpeg's v360 filter, with the bare JPEG codec work
# (djpeg + cjpeg) as the floor nobody can beat. Every tool runs as a whole
# process; the table shows the median wall time, CPU time and peak RSS of
# RUNS runs. The tools take turns run by run, so a second build
# (SKYFOLD_CLI_B) is timed beside the first under the same machine load.
#
# Two floors, both the sum of steps timed alone (the peak is the largest
# step's). The codec floor: djpeg of the source(s) and cjpeg -quality 100 of
# each result file, one process per file. The strict floor, the least codec
# work a conversion needs: forward, one djpeg of the panorama plus one
# cjpeg -quality 100 of all six faces' pixels as a single 6N x N picture;
# inverse, djpeg of the six faces plus one cjpeg -quality 100 of the
# panorama's pixels. Decodes go to PNM, which djpeg streams row by row (BMP
# output would make it buffer the whole image), so a decode is the decode
# alone; the pictures to encode are made as PPM beforehand.
#
#   bench/compare.sh                         # both widths, both directions, 5 runs
#   WIDTHS=8192 RUNS=1 OTHERS=0 bench/compare.sh   # quick look: skyfold and the floors
#   SKYFOLD_CLI=before/skyfold-cli SKYFOLD_CLI_B=after/skyfold-cli bench/compare.sh
#
# Environment: WIDTHS ("8192 16384"), RUNS (5), DIRECTIONS ("forward inverse"),
# WORK (/tmp/skyfold-compare: cached test images, outputs, results.md),
# SKYFOLD_CLI (a built skyfold-cli; otherwise built in Release in build-bench),
# SKYFOLD_CLI_B (a second skyfold-cli, timed beside the first),
# SKYFOLD_WINDOW_BENCH (build/bench/skyfold_window_bench: the window's own run
# path on the same job, offscreen, a whole process with Qt's start-up and the
# window's previews; the window uses every core), OTHERS (1; 0
# leaves out OpenCV and FFmpeg), THREADS (2: threads of every tool), TIMEOUT
# (900 s per run), PYTHON (/usr/bin/python3, the interpreter Debian's
# python3-opencv belongs to).
# The test panorama is photo-like (bench/make_panorama.py) at JPEG quality 95,
# and so are the six faces the inverse runs start from; results are quality 100.
# shellcheck disable=SC2034  # the *_ref namerefs set their caller's variable
set -euo pipefail
export LC_ALL=C  # '.' as decimal point in EPOCHREALTIME, awk and printf

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH="$ROOT/bench"
WIDTHS="${WIDTHS:-8192 16384}"
RUNS="${RUNS:-5}"
DIRECTIONS="${DIRECTIONS:-forward inverse}"
WORK="${WORK:-/tmp/skyfold-compare}"
THREADS="${THREADS:-2}"
TIMEOUT="${TIMEOUT:-900}"
PYTHON="${PYTHON:-/usr/bin/python3}"
OTHERS="${OTHERS:-1}"
BUILD_DIR="$ROOT/build-bench"
SOURCE_QUALITY=95  # of the test panorama and of the test faces
SUFFIXES=(_left _front _right _back _top _bottom)
# v360's c6x1 layout takes the faces in the order right, left, up, down, front, back.
V360_ORDER=(_right _left _top _bottom _front _back)

die() { echo "compare.sh: $*" >&2; exit 2; }
note() { echo "$*" >&2; }

[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer"
[[ "$TIMEOUT" =~ ^[1-9][0-9]*$ ]] || die "TIMEOUT must be a positive integer"
[[ "$THREADS" =~ ^[1-9][0-9]*$ ]] || die "THREADS must be a positive integer"
[[ "$OTHERS" =~ ^[01]$ ]] || die "OTHERS must be 0 or 1"
for w in $WIDTHS; do
  # skyfold-cli's face edges are the powers of two 64 … 4096, and widths stop at 16384.
  case "$w" in 256|512|1024|2048|4096|8192|16384) ;; *) die "width $w: use a power of two 256 … 16384";; esac
done
for d in $DIRECTIONS; do
  case "$d" in forward|inverse) ;; *) die "direction $d: use forward or inverse";; esac
done

# --- tools --------------------------------------------------------------------

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    note "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${missing[@]}"
  fi
}

# OpenCV makes the test images, so it is needed without OTHERS too.
ensure_packages libjpeg-turbo-progs python3-opencv python3-numpy time
if [ "$OTHERS" = 1 ]; then ensure_packages ffmpeg; fi
"$PYTHON" -c 'import cv2, numpy' 2>/dev/null ||
  die "$PYTHON cannot import cv2 and numpy (set PYTHON to Debian's /usr/bin/python3)"

mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"
LOG="$WORK/compare.log"  # stderr of failed runs
: >"$LOG"

# absolute_binary PATH NAME : PATH made absolute, once it is known to be an executable.
absolute_binary() {
  [ -x "$1" ] || die "$2=$1 is not an executable"
  echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}

SKY=""
if [ -n "${SKYFOLD_CLI:-}" ]; then
  SKY="$(absolute_binary "$SKYFOLD_CLI" SKYFOLD_CLI)"
else
  ensure_packages build-essential cmake ninja-build pkg-config libjpeg62-turbo-dev libtiff-dev \
    libpng-dev zlib1g-dev libcli11-dev
  note "Building skyfold-cli (Release) in $BUILD_DIR"
  if cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
       -DSKYFOLD_BUILD_GUI=OFF -DSKYFOLD_BUILD_TESTS=OFF >"$WORK/build.log" 2>&1 &&
     cmake --build "$BUILD_DIR" --target skyfold-cli -j2 >>"$WORK/build.log" 2>&1; then
    SKY="$(find "$BUILD_DIR" -type f -name skyfold-cli -perm -u+x -print -quit)"
  fi
  [ -n "$SKY" ] || note "skyfold-cli did not build (see $WORK/build.log); its rows say failed"
fi
SKY_B=""
if [ -n "${SKYFOLD_CLI_B:-}" ]; then SKY_B="$(absolute_binary "$SKYFOLD_CLI_B" SKYFOLD_CLI_B)"; fi

# thread_option BINARY : "--threads THREADS" when the binary takes it, so it
# gets the same thread budget as the others.
thread_option() {
  if [ -n "$1" ] && grep -q -- --threads <<<"$("$1" --help 2>&1)"; then
    echo "--threads $THREADS"
  fi
}
WIN=""
if [ -n "${SKYFOLD_WINDOW_BENCH:-}" ]; then
  WIN="$(absolute_binary "$SKYFOLD_WINDOW_BENCH" SKYFOLD_WINDOW_BENCH)"
fi
read -r -a SKY_THREADS <<<"$(thread_option "$SKY")"
read -r -a SKY_B_THREADS <<<"$(thread_option "$SKY_B")"

# --- timing -------------------------------------------------------------------

# Results travel as "wall_seconds cpu_seconds peak_kb".

# run_once OUT_VAR CMD... : one whole-process run, stdout discarded. Fails
# (after logging the command's stderr) when the command fails or times out.
run_once() {
  local -n result_ref="$1"
  shift
  local tfile="$WORK/time.txt" efile="$WORK/stderr.txt" start end status=0
  start="$EPOCHREALTIME"
  # timeout inside time, so a hung tool itself is killed; time's figures take
  # in the reaped child.
  /usr/bin/time -v -o "$tfile" timeout -k 10 "$TIMEOUT" "$@" </dev/null >/dev/null 2>"$efile" ||
    status=$?
  end="$EPOCHREALTIME"
  if [ "$status" -ne 0 ]; then
    local why="exit $status"
    [ "$status" -eq 124 ] && why="timed out after $TIMEOUT s"
    { echo "FAILED ($why): $*"; tail -n 20 "$efile"; } >>"$LOG"
    return 1
  fi
  result_ref="$(awk -F': ' -v s="$start" -v e="$end" '
    /User time \(seconds\)/ {cpu += $2}
    /System time \(seconds\)/ {cpu += $2}
    /Maximum resident set size/ {kb = $2}
    END {printf "%.4f %.2f %d", e - s, cpu, kb}' "$tfile")"
}

# median_of FIELD : the median of column FIELD of the lines on stdin.
median_of() {
  awk -v f="$1" '{print $f}' | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# A tool is one or more commands (steps) run one after another; each step is
# timed alone, the times add up and the peak is the largest step's.
declare -A STEPS  # tool -> its steps: each step's words ended by \x1f, each step by \x1e
TOOLS=()          # the tools of the width and direction at hand, in turn order

# add_step TOOL CMD... : appends a step to TOOL.
add_step() {
  local tool="$1" word step=""
  shift
  for word in "$@"; do step+="$word"$'\x1f'; done
  [ -n "${STEPS[$tool]+set}" ] || TOOLS+=("$tool")
  STEPS[$tool]+="$step"$'\x1e'
}

# run_tool OUT_VAR TOOL : one run of every step of TOOL.
run_tool() {
  local -n tool_ref="$1"
  # No local may share the caller's variable name, which tool_ref refers to.
  local step step_result wall=0 cpu=0 kb=0 words=()
  while IFS= read -r -d $'\x1e' step; do
    IFS=$'\x1f' read -r -a words <<<"$step"
    run_once step_result "${words[@]}" || return 1
    read -r wall cpu kb <<<"$(awk -v a="$wall $cpu $kb" -v b="$step_result" 'BEGIN {
      split(a, x, " "); split(b, y, " ");
      printf "%.4f %.2f %d", x[1] + y[1], x[2] + y[2], (y[3] > x[3]) ? y[3] : x[3]}')"
  done <<<"${STEPS[$2]}"
  tool_ref="$wall $cpu $kb"
}

# measure_tools W DIRECTION : RUNS rounds in which every tool runs once, in
# turn (skyfold-cli A and B swap places every other round, so neither always
# follows the same tool); each figure is the median of its own. A tool that
# fails drops out.
measure_tools() {
  local w="$1" d="$2" i tool one wall cpu kb order
  local -A runs=() failed=()
  for ((i = 1; i <= RUNS; i++)); do
    order=("${TOOLS[@]}")
    if ((i % 2 == 0)) && [ "${order[0]}" = skyfold ] && [ "${order[1]:-}" = skyfold_b ]; then
      order[0]=skyfold_b order[1]=skyfold
    fi
    for tool in "${order[@]}"; do
      [ -z "${failed[$tool]:-}" ] || continue
      if ! run_tool one "$tool"; then
        failed[$tool]=1
        note "  [$w $d] $tool: failed (details in $LOG)"
        continue
      fi
      runs[$tool]+="$one"$'\n'
      read -r wall cpu kb <<<"$one"
      note "  [$w $d] $tool run $i/$RUNS: wall $wall s, cpu $cpu s, $((kb / 1024)) MiB"
    done
  done
  for tool in "${TOOLS[@]}"; do
    [ -z "${failed[$tool]:-}" ] || continue
    wall="$(median_of 1 <<<"${runs[$tool]%$'\n'}")"
    cpu="$(median_of 2 <<<"${runs[$tool]%$'\n'}")"
    kb="$(median_of 3 <<<"${runs[$tool]%$'\n'}" | awk '{printf "%d", $1 + 0.5}')"
    RESULT["$w $d $tool"]="$wall $cpu $kb"
  done
}

# --- test images --------------------------------------------------------------

# made_at FILE : true when FILE exists and was made at SOURCE_QUALITY.
made_at() { [ -s "$1" ] && [ "$(cat "$1.quality" 2>/dev/null)" = "$SOURCE_QUALITY" ]; }

# panorama W : prints the path of the cached W x W/2 test panorama, made when
# missing, older than its generator or of another quality.
panorama() {
  local w="$1" pano="$WORK/pano_$1.jpg"
  if ! made_at "$pano" || [ "$BENCH/make_panorama.py" -nt "$pano" ]; then
    note "Making the ${w} x $((w / 2)) test panorama"
    "$PYTHON" "$BENCH/make_panorama.py" "$w" "$pano.tmp.jpg" --quality "$SOURCE_QUALITY" ||
      return 1
    mv "$pano.tmp.jpg" "$pano" || return 1
    echo "$SOURCE_QUALITY" >"$pano.quality"
  fi
  echo "$pano"
}

# cube_faces W : prints the folder of the six JPEG faces (pano_W_left.jpg …)
# the inverse runs start from, cut from the test panorama by OpenCV.
cube_faces() {
  local w="$1" pano dir="$WORK/faces_$1" last
  pano="$(panorama "$w")" || return 1
  last="$dir/pano_${w}_bottom.jpg"
  if ! made_at "$last" || [ "$pano" -nt "$last" ] || [ "$BENCH/opencv_cube.py" -nt "$last" ]; then
    note "Cutting the six test faces of the ${w} panorama"
    mkdir -p "$dir" || return 1
    "$PYTHON" "$BENCH/opencv_cube.py" to-cube "$pano" "$((w / 4))" "$dir/pano_${w}" \
      --quality "$SOURCE_QUALITY" || return 1
    echo "$SOURCE_QUALITY" >"$last.quality"
  fi
  echo "$dir"
}

# face_strip W : prints the path of a PPM of the six test faces side by side
# (6N x N), what the strict floor encodes going forward.
face_strip() {
  local w="$1" faces strip="$WORK/strip_$1.ppm" script
  faces="$(cube_faces "$w")" || return 1
  if [ ! -s "$strip" ] || [ "$faces/pano_${w}_bottom.jpg" -nt "$strip" ]; then
    script='
import sys
import cv2
base, out, suffixes = sys.argv[1], sys.argv[2], sys.argv[3:]
faces = [cv2.imread(base + s + ".jpg", cv2.IMREAD_COLOR) for s in suffixes]
if any(f is None for f in faces) or not cv2.imwrite(out, cv2.hconcat(faces)):
    sys.exit("cannot make the face strip")'
    "$PYTHON" -c "$script" "$faces/pano_$w" "$strip.tmp.ppm" "${SUFFIXES[@]}" || return 1
    mv "$strip.tmp.ppm" "$strip" || return 1
  fi
  echo "$strip"
}

# pano_pixels W : prints the path of the decoded test panorama (PPM), what
# the strict floor encodes going back.
pano_pixels() {
  local w="$1" pano ppm="$WORK/pano_$1.ppm"
  pano="$(panorama "$w")" || return 1
  if [ ! -s "$ppm" ] || [ "$pano" -nt "$ppm" ]; then
    { djpeg -pnm "$pano" >"$ppm.tmp" 2>>"$LOG" && mv "$ppm.tmp" "$ppm"; } || return 1
  fi
  echo "$ppm"
}

# --- the runs -----------------------------------------------------------------
# These run with errexit off (called under `|| true`): every step that matters
# is checked, and a failing tool only marks its own row.

declare -A RESULT  # "W direction tool" -> "wall cpu kb"; missing means failed
declare -A NOTES   # "W direction" -> remarks printed under the table

# first_run W DIRECTION : one untimed skyfold-cli run before the timed ones:
# the codec floor encodes what it writes, and every tool then finds the
# source in the page cache.
first_run() {
  local one
  [ -n "$SKY" ] || return 0
  note "[$1 $2] first skyfold-cli run (untimed)"
  run_tool one skyfold || note "  skyfold-cli failed (details in $LOG)"
}

# same_outputs W DIRECTION OUT NAME... : notes whether A and B wrote the same bytes.
same_outputs() {
  local w="$1" d="$2" out="$3" name
  shift 3
  [ -n "${RESULT["$w $d skyfold"]:-}" ] && [ -n "${RESULT["$w $d skyfold_b"]:-}" ] || return 0
  for name in "$@"; do
    if ! cmp -s "$out/skyfold/$name" "$out/skyfold_b/$name"; then
      NOTES["$w $d"]+="A and B wrote DIFFERENT bytes ($name). "
      return 0
    fi
  done
  NOTES["$w $d"]+="A and B wrote the same bytes. "
}

# same_as_window W DIRECTION OUT SKYFOLD_NAME WINDOW_NAME ... : notes whether
# the window wrote what skyfold-cli (A) did; the two name their faces apart.
same_as_window() {
  local w="$1" d="$2" out="$3"
  shift 3
  [ -n "${RESULT["$w $d skyfold"]:-}" ] && [ -n "${RESULT["$w $d window"]:-}" ] || return 0
  while [ $# -ge 2 ]; do
    if ! cmp -s "$out/skyfold/$1" "$out/window/$2"; then
      NOTES["$w $d"]+="The window wrote DIFFERENT bytes ($2). "
      return 0
    fi
    shift 2
  done
  NOTES["$w $d"]+="The window wrote the same bytes as skyfold-cli. "
}

run_forward() {
  local w="$1" n=$(($1 / 4)) pano out base="pano_$1" s i strip
  pano="$(panorama "$w")" || { note "no test panorama of width $w"; return 1; }
  out="$WORK/out_$w/forward"
  rm -rf "$out"
  mkdir -p "$out/skyfold" "$out/skyfold_b" "$out/window" "$out/opencv" "$out/ffmpeg" "$out/floor" ||
    return 1
  STEPS=() TOOLS=()

  if [ -n "$SKY" ]; then
    add_step skyfold "$SKY" "${SKY_THREADS[@]}" to-cube -s "$n" -t jpg -f -q -o "$out/skyfold" \
      "$pano"
  fi
  if [ -n "$SKY_B" ]; then
    add_step skyfold_b "$SKY_B" "${SKY_B_THREADS[@]}" to-cube -s "$n" -t jpg -f -q \
      -o "$out/skyfold_b" "$pano"
  fi
  [ -z "$WIN" ] || add_step window "$WIN" forward "$pano" "$out/window" "$n"
  first_run "$w" forward

  # The codec floor encodes the faces skyfold wrote; the test faces (same
  # edge) when it wrote none.
  local src="$out/skyfold" encodes=()
  if [ ! -s "$src/${base}_bottom.jpg" ]; then
    src="$(cube_faces "$w")" || src=""
    NOTES["$w forward"]+="The codec floor encodes the test faces, as skyfold-cli wrote none. "
  fi
  for s in "${SUFFIXES[@]}"; do
    djpeg -pnm "$src/${base}$s.jpg" >"$out/floor/face$s.ppm" 2>>"$LOG" &&
      encodes+=("$out/floor/face$s.ppm")
  done
  if [ ${#encodes[@]} -eq 6 ]; then
    add_step floor djpeg -pnm "$pano"
    for s in "${encodes[@]}"; do add_step floor cjpeg -quality 100 "$s"; done
  fi

  if strip="$(face_strip "$w")"; then
    add_step strict djpeg -pnm "$pano"
    add_step strict cjpeg -quality 100 "$strip"
  fi

  if [ "$OTHERS" = 1 ]; then
    add_step opencv "$PYTHON" "$BENCH/opencv_cube.py" to-cube "$pano" "$n" "$out/opencv/$base" \
      --threads "$THREADS"
    # One v360 pass to the 6x1 strip, then six zero-copy crops, each its own JPEG.
    local graph="[0:v]v360=input=e:output=c6x1:interp=linear:w=$((6 * n)):h=$n,split=6" outs=()
    for i in 0 1 2 3 4 5; do graph+="[s$i]"; done
    for i in 0 1 2 3 4 5; do
      graph+=";[s$i]crop=$n:$n:$((i * n)):0[f$i]"
      outs+=(-map "[f$i]" -frames:v 1 -qmin 1 -q:v 1 "$out/ffmpeg/${base}${V360_ORDER[$i]}.jpg")
    done
    add_step ffmpeg ffmpeg -hide_banner -v error -y -threads "$THREADS" \
      -filter_complex_threads "$THREADS" -i "$pano" -filter_complex "$graph" "${outs[@]}"
  fi

  measure_tools "$w" forward
  local names=()
  for s in "${SUFFIXES[@]}"; do names+=("${base}$s.jpg"); done
  same_outputs "$w" forward "$out" "${names[@]}"
  names=()
  for s in "${SUFFIXES[@]}"; do names+=("${base}$s.jpg" "pano$s.jpg"); done
  same_as_window "$w" forward "$out" "${names[@]}"
}

run_inverse() {
  local w="$1" faces out base="pano_$1" s i pixels
  faces="$(cube_faces "$w")" || { note "no test faces of width $w"; return 1; }
  out="$WORK/out_$w/inverse"
  rm -rf "$out"
  mkdir -p "$out/skyfold" "$out/skyfold_b" "$out/window" "$out/opencv" "$out/ffmpeg" "$out/floor" ||
    return 1
  STEPS=() TOOLS=()

  if [ -n "$SKY" ]; then
    add_step skyfold "$SKY" "${SKY_THREADS[@]}" to-pano -w "$w" -t jpg -f -q \
      -o "$out/skyfold/pano.jpg" "$faces/${base}_front.jpg"
  fi
  if [ -n "$SKY_B" ]; then
    add_step skyfold_b "$SKY_B" "${SKY_B_THREADS[@]}" to-pano -w "$w" -t jpg -f -q \
      -o "$out/skyfold_b/pano.jpg" "$faces/${base}_front.jpg"
  fi
  [ -z "$WIN" ] || add_step window "$WIN" inverse "$faces/${base}_front.jpg" "$out/window/pano.jpg" "$w"
  first_run "$w" inverse

  # The codec floor encodes the panorama skyfold wrote; the test panorama
  # when it wrote none.
  local result="$out/skyfold/pano.jpg"
  if [ ! -s "$result" ]; then
    result="$(panorama "$w")" || result=""
    NOTES["$w inverse"]+="The codec floor encodes the test panorama, as skyfold-cli wrote none. "
  fi
  if djpeg -pnm "$result" >"$out/floor/pano.ppm" 2>>"$LOG"; then
    for s in "${SUFFIXES[@]}"; do add_step floor djpeg -pnm "$faces/${base}$s.jpg"; done
    add_step floor cjpeg -quality 100 "$out/floor/pano.ppm"
  fi

  if pixels="$(pano_pixels "$w")"; then
    for s in "${SUFFIXES[@]}"; do add_step strict djpeg -pnm "$faces/${base}$s.jpg"; done
    add_step strict cjpeg -quality 100 "$pixels"
  fi

  if [ "$OTHERS" = 1 ]; then
    add_step opencv "$PYTHON" "$BENCH/opencv_cube.py" to-pano "$faces/${base}_front.jpg" "$w" \
      "$out/opencv/pano.jpg" --threads "$THREADS"
    # The faces side by side in v360's c6x1 order, then one pass to the panorama.
    local inputs=() labels=""
    for s in "${V360_ORDER[@]}"; do inputs+=(-i "$faces/${base}$s.jpg"); done
    for i in 0 1 2 3 4 5; do labels+="[$i:v]"; done
    add_step ffmpeg ffmpeg -hide_banner -v error -y -threads "$THREADS" \
      -filter_complex_threads "$THREADS" "${inputs[@]}" \
      -filter_complex "${labels}hstack=inputs=6,v360=input=c6x1:output=e:interp=linear:w=$w:h=$((w / 2))" \
      -frames:v 1 -qmin 1 -q:v 1 "$out/ffmpeg/pano.jpg"
  fi

  measure_tools "$w" inverse
  same_outputs "$w" inverse "$out" pano.jpg
  same_as_window "$w" inverse "$out" pano.jpg pano.jpg
}

for w in $WIDTHS; do
  for d in $DIRECTIONS; do
    if [ "$d" = forward ]; then run_forward "$w" || true; else run_inverse "$w" || true; fi
  done
done

# --- the table ----------------------------------------------------------------

ratio() {  # ratio A B : A / B to two places, or "—" when either is missing
  if [ -z "$1" ] || [ -z "$2" ]; then echo "—"; return; fi
  awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "—"}'
}

# The rows of the table, in order.
ROWS=(skyfold)
[ -n "$SKY_B" ] && ROWS+=(skyfold_b)
[ -n "$WIN" ] && ROWS+=(window)
ROWS+=(floor strict)
[ "$OTHERS" = 1 ] && ROWS+=(opencv ffmpeg)

row_name() {
  case "$1" in
    skyfold) if [ -n "$SKY_B" ]; then echo "skyfold-cli A"; else echo "skyfold-cli"; fi ;;
    skyfold_b) echo "skyfold-cli B" ;;
    window) echo "window run path (offscreen)" ;;
    floor) echo "codec floor (djpeg + cjpeg per file)" ;;
    strict) echo "strict codec floor" ;;
    opencv) echo "OpenCV cv2.remap" ;;
    ffmpeg) echo "FFmpeg v360" ;;
  esac
}

# wall_of W DIRECTION TOOL : the median wall time, or nothing when it failed.
wall_of() {
  local v="${RESULT["$1 $2 $3"]:-}"
  [ -z "$v" ] || echo "${v%% *}"
}

table() {
  local w d tool v wall cpu kb sky_w sky_c sky_k floor_w strict_w
  echo "| width | direction | tool | wall s | CPU s | peak RSS MiB | wall / skyfold | CPU / skyfold | RSS / skyfold | wall / codec floor | wall / strict floor |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for w in $WIDTHS; do
    for d in $DIRECTIONS; do
      sky_w="" sky_c="" sky_k=""
      [ -n "${RESULT["$w $d skyfold"]:-}" ] && read -r sky_w sky_c sky_k <<<"${RESULT["$w $d skyfold"]}"
      floor_w="$(wall_of "$w" "$d" floor)"
      strict_w="$(wall_of "$w" "$d" strict)"
      for tool in "${ROWS[@]}"; do
        v="${RESULT["$w $d $tool"]:-}"
        if [ -z "$v" ]; then
          echo "| $w | $d | $(row_name "$tool") | failed | failed | failed | — | — | — | — | — |"
          continue
        fi
        read -r wall cpu kb <<<"$v"
        printf '| %s | %s | %s | %.2f | %.2f | %.0f | %s | %s | %s | %s | %s |\n' "$w" "$d" \
          "$(row_name "$tool")" "$wall" "$cpu" "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" \
          "$(ratio "$wall" "$sky_w")" "$(ratio "$cpu" "$sky_c")" "$(ratio "$kb" "$sky_k")" \
          "$(ratio "$wall" "$floor_w")" "$(ratio "$wall" "$strict_w")"
      done
    done
  done
  echo
  local summary="" line r
  for tool in skyfold skyfold_b window; do
    [ "$tool" = skyfold_b ] && [ -z "$SKY_B" ] && continue
    [ "$tool" = window ] && [ -z "$WIN" ] && continue
    line=""
    for w in $WIDTHS; do
      for d in $DIRECTIONS; do
        r="$(ratio "$(wall_of "$w" "$d" "$tool")" "$(wall_of "$w" "$d" strict)")"
        [ "$r" = "—" ] || r+="×"
        line+=" $w $d $r,"
      done
    done
    summary+="$(row_name "$tool") / strict codec floor (wall):${line%,}."$'\n'
  done
  printf '%s' "$summary"
  echo
  echo "Median of $RUNS run(s) per tool, the tools taking turns run by run, each a whole process"
  echo "(CPU = user + system); $(nproc) CPU(s); every tool on $THREADS thread(s). Source JPEGs at"
  echo "quality $SOURCE_QUALITY (photo-like test panorama; its faces cut by OpenCV). Codec floor: djpeg of"
  echo "the source(s) plus cjpeg -quality 100 of each result file, each timed alone and summed. Strict"
  echo "floor: forward one djpeg of the panorama plus one cjpeg -quality 100 of the six faces as one"
  echo "6N x N picture; inverse djpeg of the six faces plus one cjpeg -quality 100 of the panorama;"
  echo "likewise summed. A floor's RSS is its largest step. FFmpeg writes JPEG at -qmin 1 -q:v 1,"
  echo "its highest quality; the others at libjpeg quality 100."
  local held=""
  for w in $WIDTHS; do held+=" $(awk -v w="$w" 'BEGIN {printf "%.3g", w * w * 1.5 / 1048576}') MiB at $w,"; done
  echo "The codecs stream rows; merely holding the panorama in 24 bits takes${held%,}."
  if [ -n "$SKY_B" ]; then
    echo "A: $SKY"
    echo "B: $SKY_B"
  fi
  echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
  for w in $WIDTHS; do
    for d in $DIRECTIONS; do
      if [ -n "${NOTES["$w $d"]:-}" ]; then echo "Note ($w $d): ${NOTES["$w $d"]% }"; fi
    done
  done
}

table | tee "$WORK/results.md"
note "Table saved to $WORK/results.md; failures are logged in $LOG"
