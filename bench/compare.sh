#!/usr/bin/env bash
# Side-by-side timing of skyfold-cli and what users pick instead: an OpenCV
# cv2.remap script and FFmpeg's v360 filter, with the bare JPEG codec work
# (djpeg + cjpeg) as the floor nobody can beat. Every tool runs as a whole
# process; the table shows the median wall time, CPU time and peak RSS of
# RUNS runs. The floor decodes to PNM, which djpeg streams row by row (BMP
# output would make it buffer the whole image), so it is the decode alone.
#
#   bench/compare.sh                         # both widths, both directions, 5 runs
#   WIDTHS=8192 RUNS=1 bench/compare.sh      # quick look
#
# Environment: WIDTHS ("8192 16384"), RUNS (5), DIRECTIONS ("forward inverse"),
# WORK (/tmp/skyfold-compare: cached test images, outputs, results.md),
# SKYFOLD_CLI (a built skyfold-cli; otherwise built in Release in build-bench),
# THREADS (2: threads of every tool), TIMEOUT (900 s per run),
# PYTHON (/usr/bin/python3, the interpreter Debian's python3-opencv belongs to).
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
BUILD_DIR="$ROOT/build-bench"
SUFFIXES=(_left _front _right _back _top _bottom)
# v360's c6x1 layout takes the faces in the order right, left, up, down, front, back.
V360_ORDER=(_right _left _top _bottom _front _back)

die() { echo "compare.sh: $*" >&2; exit 2; }
note() { echo "$*" >&2; }

[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer"
[[ "$TIMEOUT" =~ ^[1-9][0-9]*$ ]] || die "TIMEOUT must be a positive integer"
[[ "$THREADS" =~ ^[1-9][0-9]*$ ]] || die "THREADS must be a positive integer"
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

ensure_packages ffmpeg libjpeg-turbo-progs python3-opencv python3-numpy time
"$PYTHON" -c 'import cv2, numpy' 2>/dev/null ||
  die "$PYTHON cannot import cv2 and numpy (set PYTHON to Debian's /usr/bin/python3)"

mkdir -p "$WORK"
WORK="$(cd "$WORK" && pwd)"
LOG="$WORK/compare.log"  # stderr of failed runs
: >"$LOG"

SKY=""
if [ -n "${SKYFOLD_CLI:-}" ]; then
  [ -x "$SKYFOLD_CLI" ] || die "SKYFOLD_CLI=$SKYFOLD_CLI is not an executable"
  SKY="$(cd "$(dirname "$SKYFOLD_CLI")" && pwd)/$(basename "$SKYFOLD_CLI")"
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
SKY_THREADS=()  # the same thread budget as the others, when the binary takes one
if [ -n "$SKY" ] && grep -q -- --threads <<<"$("$SKY" --help 2>&1)"; then
  SKY_THREADS=(--threads "$THREADS")
fi

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
  /usr/bin/time -v -o "$tfile" timeout -k 10 "$TIMEOUT" "$@" >/dev/null 2>"$efile" || status=$?
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

# measure OUT_VAR LABEL CMD... : RUNS runs; each figure is the median of its own.
measure() {
  local -n measured_ref="$1"
  local label="$2" i one wall cpu kb runs=""
  shift 2
  for ((i = 1; i <= RUNS; i++)); do
    if ! run_once one "$@"; then
      note "  $label: failed (details in $LOG)"
      return 1
    fi
    runs+="$one"$'\n'
    read -r wall cpu kb <<<"$one"
    note "  $label run $i/$RUNS: wall $wall s, cpu $cpu s, $((kb / 1024)) MiB"
  done
  wall="$(median_of 1 <<<"${runs%$'\n'}")"
  cpu="$(median_of 2 <<<"${runs%$'\n'}")"
  kb="$(median_of 3 <<<"${runs%$'\n'}" | awk '{printf "%d", $1 + 0.5}')"
  measured_ref="$wall $cpu $kb"
}

# measure_floor OUT_VAR LABEL DECODE... -- ENCODE... : the codec floor. Each
# `djpeg -pnm` of a DECODE file and each `cjpeg -quality 100` of an ENCODE file
# (PPM, decoded beforehand) is measured alone; times add up as if the steps ran
# one after another, and the peak is the largest step's.
measure_floor() {
  local -n floor_ref="$1"
  local label="$2" f part wall=0 cpu=0 kb=0 tool=(djpeg -pnm)
  shift 2
  for f in "$@"; do
    if [ "$f" = -- ]; then tool=(cjpeg -quality 100); continue; fi
    measure part "$label: ${tool[0]} $(basename "$f")" "${tool[@]}" "$f" || return 1
    read -r wall cpu kb <<<"$(awk -v a="$wall $cpu $kb" -v b="$part" 'BEGIN {
      split(a, x, " "); split(b, y, " ");
      printf "%.4f %.2f %d", x[1] + y[1], x[2] + y[2], (y[3] > x[3]) ? y[3] : x[3]}')"
  done
  floor_ref="$wall $cpu $kb"
}

# --- test images --------------------------------------------------------------

# panorama W : prints the path of the cached W x W/2 test panorama, made when
# missing or older than its generator.
panorama() {
  local w="$1" pano="$WORK/pano_$1.jpg"
  if [ ! -s "$pano" ] || [ "$BENCH/make_panorama.py" -nt "$pano" ]; then
    note "Making the ${w} x $((w / 2)) test panorama"
    "$PYTHON" "$BENCH/make_panorama.py" "$w" "$pano.tmp.jpg" || return 1
    mv "$pano.tmp.jpg" "$pano" || return 1
  fi
  echo "$pano"
}

# cube_faces W : prints the folder of the six JPEG faces (pano_W_left.jpg …)
# the inverse runs start from, cut from the test panorama at quality 92.
cube_faces() {
  local w="$1" pano dir="$WORK/faces_$1"
  pano="$(panorama "$w")" || return 1
  if [ ! -s "$dir/pano_${w}_bottom.jpg" ] || [ "$pano" -nt "$dir/pano_${w}_bottom.jpg" ] ||
     [ "$BENCH/opencv_cube.py" -nt "$dir/pano_${w}_bottom.jpg" ]; then
    note "Cutting the six test faces of the ${w} panorama"
    mkdir -p "$dir" || return 1
    "$PYTHON" "$BENCH/opencv_cube.py" to-cube "$pano" "$((w / 4))" "$dir/pano_${w}" \
      --quality 92 || return 1
  fi
  echo "$dir"
}

# --- the runs -----------------------------------------------------------------
# These run with errexit off (called under `|| true`): every step that matters
# is checked, and a failing tool only marks its own row.

declare -A RESULT  # "W direction tool" -> "wall cpu kb"; missing means failed
declare -A FLOOR_NOTE

run_forward() {
  local w="$1" n=$(($1 / 4)) pano out r base="pano_$1" s i
  pano="$(panorama "$w")" || { note "no test panorama of width $w"; return 1; }
  out="$WORK/out_$w/forward"
  rm -rf "$out"
  mkdir -p "$out/skyfold" "$out/opencv" "$out/ffmpeg" "$out/floor" || return 1

  note "[$w forward] skyfold-cli"
  if [ -n "$SKY" ] &&
     measure r skyfold "$SKY" "${SKY_THREADS[@]}" to-cube -s "$n" -t jpg -f -q \
       -o "$out/skyfold" "$pano"; then
    RESULT["$w forward skyfold"]="$r"
  fi

  note "[$w forward] codec floor"
  # Encode the faces skyfold wrote; the test faces (same edge) when it wrote none.
  local src="$out/skyfold" encodes=()
  if [ ! -s "$src/${base}_bottom.jpg" ]; then
    src="$(cube_faces "$w")" || src=""
    FLOOR_NOTE["$w forward"]="encodes the test faces, as skyfold-cli wrote none"
  fi
  for s in "${SUFFIXES[@]}"; do
    djpeg -pnm "$src/${base}$s.jpg" >"$out/floor/face$s.ppm" 2>>"$LOG" &&
      encodes+=("$out/floor/face$s.ppm")
  done
  if [ ${#encodes[@]} -eq 6 ] && measure_floor r floor "$pano" -- "${encodes[@]}"; then
    RESULT["$w forward floor"]="$r"
  fi

  note "[$w forward] OpenCV remap"
  if measure r opencv "$PYTHON" "$BENCH/opencv_cube.py" to-cube "$pano" "$n" "$out/opencv/$base" \
       --threads "$THREADS"; then
    RESULT["$w forward opencv"]="$r"
  fi

  note "[$w forward] FFmpeg v360"
  # One v360 pass to the 6x1 strip, then six zero-copy crops, each its own JPEG.
  local graph="[0:v]v360=input=e:output=c6x1:interp=linear:w=$((6 * n)):h=$n,split=6" outs=()
  for i in 0 1 2 3 4 5; do graph+="[s$i]"; done
  for i in 0 1 2 3 4 5; do
    graph+=";[s$i]crop=$n:$n:$((i * n)):0[f$i]"
    outs+=(-map "[f$i]" -frames:v 1 -qmin 1 -q:v 1 "$out/ffmpeg/${base}${V360_ORDER[$i]}.jpg")
  done
  if measure r ffmpeg ffmpeg -hide_banner -v error -y -threads "$THREADS" \
       -filter_complex_threads "$THREADS" -i "$pano" -filter_complex "$graph" "${outs[@]}"; then
    RESULT["$w forward ffmpeg"]="$r"
  fi
}

run_inverse() {
  local w="$1" faces out r base="pano_$1" s i
  faces="$(cube_faces "$w")" || { note "no test faces of width $w"; return 1; }
  out="$WORK/out_$w/inverse"
  rm -rf "$out"
  mkdir -p "$out/skyfold" "$out/opencv" "$out/ffmpeg" "$out/floor" || return 1

  note "[$w inverse] skyfold-cli"
  if [ -n "$SKY" ] &&
     measure r skyfold "$SKY" "${SKY_THREADS[@]}" to-pano -w "$w" -t jpg -f -q -o "$out/skyfold/pano.jpg" \
       "$faces/${base}_front.jpg"; then
    RESULT["$w inverse skyfold"]="$r"
  fi

  note "[$w inverse] codec floor"
  # Encode the panorama skyfold wrote; the test panorama when it wrote none.
  local result="$out/skyfold/pano.jpg" decodes=()
  if [ ! -s "$result" ]; then
    result="$(panorama "$w")" || result=""
    FLOOR_NOTE["$w inverse"]="encodes the test panorama, as skyfold-cli wrote none"
  fi
  for s in "${SUFFIXES[@]}"; do decodes+=("$faces/${base}$s.jpg"); done
  if djpeg -pnm "$result" >"$out/floor/pano.ppm" 2>>"$LOG" &&
     measure_floor r floor "${decodes[@]}" -- "$out/floor/pano.ppm"; then
    RESULT["$w inverse floor"]="$r"
  fi

  note "[$w inverse] OpenCV remap"
  if measure r opencv "$PYTHON" "$BENCH/opencv_cube.py" to-pano "$faces/${base}_front.jpg" "$w" \
       "$out/opencv/pano.jpg" --threads "$THREADS"; then
    RESULT["$w inverse opencv"]="$r"
  fi

  note "[$w inverse] FFmpeg v360"
  # The faces side by side in v360's c6x1 order, then one pass to the panorama.
  local inputs=() labels=""
  for s in "${V360_ORDER[@]}"; do inputs+=(-i "$faces/${base}$s.jpg"); done
  for i in 0 1 2 3 4 5; do labels+="[$i:v]"; done
  if measure r ffmpeg ffmpeg -hide_banner -v error -y -threads "$THREADS" \
       -filter_complex_threads "$THREADS" "${inputs[@]}" \
       -filter_complex "${labels}hstack=inputs=6,v360=input=c6x1:output=e:interp=linear:w=$w:h=$((w / 2))" \
       -frames:v 1 -qmin 1 -q:v 1 "$out/ffmpeg/pano.jpg"; then
    RESULT["$w inverse ffmpeg"]="$r"
  fi
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

table() {
  local w d tool name v wall cpu kb sky_w sky_c sky_k floor_w
  echo "| width | direction | tool | wall s | CPU s | peak RSS MiB | wall / skyfold | CPU / skyfold | RSS / skyfold | wall / floor |"
  echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|"
  for w in $WIDTHS; do
    for d in $DIRECTIONS; do
      sky_w="" sky_c="" sky_k="" floor_w=""
      [ -n "${RESULT["$w $d skyfold"]:-}" ] && read -r sky_w sky_c sky_k <<<"${RESULT["$w $d skyfold"]}"
      [ -n "${RESULT["$w $d floor"]:-}" ] && read -r floor_w _ _ <<<"${RESULT["$w $d floor"]}"
      for tool in skyfold floor opencv ffmpeg; do
        case "$tool" in
          skyfold) name="skyfold-cli" ;;
          floor) name="codec floor (djpeg + cjpeg)" ;;
          opencv) name="OpenCV cv2.remap" ;;
          ffmpeg) name="FFmpeg v360" ;;
        esac
        v="${RESULT["$w $d $tool"]:-}"
        if [ -z "$v" ]; then
          echo "| $w | $d | $name | failed | failed | failed | — | — | — | — |"
          continue
        fi
        read -r wall cpu kb <<<"$v"
        printf '| %s | %s | %s | %.2f | %.2f | %.0f | %s | %s | %s | %s |\n' "$w" "$d" "$name" \
          "$wall" "$cpu" "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" \
          "$(ratio "$wall" "$sky_w")" "$(ratio "$cpu" "$sky_c")" "$(ratio "$kb" "$sky_k")" \
          "$(ratio "$wall" "$floor_w")"
      done
    done
  done
  echo
  echo "Median of $RUNS run(s) per tool, each a whole process (CPU = user + system); $(nproc) CPU(s);"
  echo "every tool on $THREADS thread(s). Floor: djpeg of the source(s) plus cjpeg -quality 100"
  echo "of the result(s), each timed alone and summed; its RSS is the largest single step. FFmpeg"
  echo "writes JPEG at -qmin 1 -q:v 1, its highest quality; the others at libjpeg quality 100."
  local held=""
  for w in $WIDTHS; do held+=" $(awk -v w="$w" 'BEGIN {printf "%.3g", w * w * 1.5 / 1048576}') MiB at $w,"; done
  echo "The codecs stream rows; merely holding the panorama in 24 bits takes${held%,}."
  echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
  for w in $WIDTHS; do
    for d in $DIRECTIONS; do
      if [ -n "${FLOOR_NOTE["$w $d"]:-}" ]; then echo "Note ($w $d): the floor ${FLOOR_NOTE["$w $d"]}."; fi
    done
  done
}

table | tee "$WORK/results.md"
note "Table saved to $WORK/results.md; failures are logged in $LOG"
