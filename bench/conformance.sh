#!/usr/bin/env bash
# Output and progress conformance of skyfold-cli: runs a fixed matrix of
# conversions and failures and writes one line per case, so that two builds
# can be shown to write the same bytes and print the same lines.
#
#   SKYFOLD_CLI=build/cli/skyfold-cli bench/conformance.sh RESULT.txt
#   bench/conformance.sh compare A.txt B.txt   # differing cases; exit 1 if any
#
# A case line holds, tab-separated: the case name; exit=STATUS; stderr=MD5 of
# the progress and error lines; stdout=the listed files, '|'-separated, each
# made relative to the case folder (a relative or an absolute listing of the
# same file reads the same); then NAME=MD5:MODE for every file in the case
# folder after the run, by name. Files that were there before the run (a
# face to refuse to replace, a copied source) are listed too, so a file
# replaced, left partial or left behind under a temporary name shows.
# Lines starting with "input:" are the md5 of the generated inputs.
#
# Every case runs in its own folder WORK/cases/NAME and names its inputs as
# ../../in/…, so stderr holds the same paths wherever WORK is; where a case
# uses absolute paths, the WORK prefix of its stderr is written as $WORK.
#
# Environment: SKYFOLD_CLI (the binary to check; required), WORK
# (/tmp/skyfold-conformance: cached inputs, case folders, logs/RESULT/NAME.out
# and .err), FACE_CLI (the binary that cuts the faces the to-pano cases start
# from, once, when they are not cached; default SKYFOLD_CLI: run the baseline
# first so the cache holds its faces), CASES (an extended regex: run only the
# cases whose name matches), TIMEOUT (300 s per case), PYTHON
# (/usr/bin/python3, with Debian's python3-opencv and python3-numpy).
set -uo pipefail
export LC_ALL=C
umask 022  # the mode of every written file is part of the result

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH="$ROOT/bench"
WORK="${WORK:-/tmp/skyfold-conformance}"
TIMEOUT="${TIMEOUT:-300}"
PYTHON="${PYTHON:-/usr/bin/python3}"
CASES="${CASES:-}"

die() { echo "conformance.sh: $*" >&2; exit 2; }
note() { echo "$*" >&2; }

# --- compare ------------------------------------------------------------------

# compare A B : for each case whose line differs, the fields that differ.
compare() {
  local a="$1" b="$2"
  [ -r "$a" ] || die "cannot read $a"
  [ -r "$b" ] || die "cannot read $b"
  awk -F'\t' -v A="$a" -v B="$b" '
    # Splits a case line into map (field name -> value) and adds the names
    # not seen yet to keys[1..nk], in order.
    function fields(line, map,   n, i, f, k, parts) {
      n = split(line, parts, "\t")
      for (i = 2; i <= n; i++) {
        f = parts[i]; k = substr(f, 1, index(f, "=") - 1)
        map[k] = substr(f, index(f, "=") + 1)
        if (!(k in known)) { known[k] = 1; keys[++nk] = k }
      }
    }
    FNR == 1 { file++ }
    /^#/ || NF == 0 { next }
    file == 1 { la[$1] = $0; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }; next }
    { lb[$1] = $0; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
    END {
      for (i = 1; i <= n; i++) {
        c = order[i]; total++
        if (!(c in lb)) { print c ": only in " A; bad++; continue }
        if (!(c in la)) { print c ": only in " B; bad++; continue }
        if (la[c] == lb[c]) continue
        bad++; print c ":"
        delete fa; delete fb; delete known; nk = 0
        fields(la[c], fa); fields(lb[c], fb)
        for (j = 1; j <= nk; j++) {
          k = keys[j]
          va = (k in fa) ? fa[k] : "(none)"; vb = (k in fb) ? fb[k] : "(none)"
          if (va != vb) printf "  %s\n    A: %s\n    B: %s\n", k, va, vb
        }
      }
      printf "%d case(s), %d differ\n", total, bad
      exit bad > 0
    }' "$a" "$b"
}

if [ "${1:-}" = compare ]; then
  [ $# -eq 3 ] || die "usage: conformance.sh compare A.txt B.txt"
  compare "$2" "$3"
  exit
fi

[ $# -eq 1 ] || die "usage: SKYFOLD_CLI=BINARY conformance.sh RESULT.txt | conformance.sh compare A.txt B.txt"
[ -n "${SKYFOLD_CLI:-}" ] || die "set SKYFOLD_CLI to the skyfold-cli to check"
[ -x "$SKYFOLD_CLI" ] || die "SKYFOLD_CLI=$SKYFOLD_CLI is not an executable"
CLI="$(cd "$(dirname "$SKYFOLD_CLI")" && pwd)/$(basename "$SKYFOLD_CLI")"
FACE_CLI="${FACE_CLI:-$CLI}"
[ -x "$FACE_CLI" ] || die "FACE_CLI=$FACE_CLI is not an executable"
[[ "$TIMEOUT" =~ ^[1-9][0-9]*$ ]] || die "TIMEOUT must be a positive integer"
for tool in md5sum perl realpath timeout; do
  command -v "$tool" >/dev/null || die "$tool is missing"
done
"$PYTHON" -c 'import cv2, numpy' 2>/dev/null ||
  die "$PYTHON cannot import cv2 and numpy (apt-get install python3-opencv python3-numpy)"

RESULT="$1"
mkdir -p "$WORK" "$(dirname "$RESULT")" || die "cannot create $WORK"
WORK="$(cd "$WORK" && pwd -P)"
IN="$WORK/in"
CASE_ROOT="$WORK/cases"
LOGS="$WORK/logs/$(basename "$RESULT" .txt)"
rm -rf "$LOGS" "$CASE_ROOT"
mkdir -p "$IN" "$LOGS" "$CASE_ROOT" || die "cannot create the folders in $WORK"
START="$EPOCHREALTIME"

# --- inputs -------------------------------------------------------------------

# The panoramas, all cut from one photo-like 4096 x 2048 picture: the stretch
# path's odd sizes, other containers, grey, a tiny one, and broken files.
make_pictures() {
  "$PYTHON" - "$BENCH" "$IN" <<'EOF'
import os, sys
import cv2
import numpy as np
sys.path.insert(0, sys.argv[1])
import make_panorama

out = sys.argv[2]
q95 = [cv2.IMWRITE_JPEG_QUALITY, 95]
big = make_panorama.make_panorama(4096, 20240611)

def save(name, img, params=()):
    if not cv2.imwrite(os.path.join(out, name), img, list(params)):
        sys.exit("cannot write " + name)

def shrink(w, h):
    return cv2.resize(big, (w, h), interpolation=cv2.INTER_AREA)

save("pano_4096.jpg", big, q95)
half = shrink(2048, 1024)
save("pano_2048.bmp", half)
save("pano_2048.tif", half)  # LZW, as OpenCV writes TIFF
save("gray_2048.jpg", cv2.cvtColor(half, cv2.COLOR_BGR2GRAY), q95)
save("odd_1000x500.jpg", shrink(1000, 500), q95)     # height not a multiple of 8
save("odd_1026x512.bmp", shrink(1026, 512))          # width not a multiple of 8
save("odd_1600x400.jpg", shrink(1600, 400), q95)     # not 2:1
save("tiny_64x32.JPEG", shrink(64, 32), q95)
save("picture.png", shrink(128, 64))                 # an extension to-cube does not take
ok, data = cv2.imencode(".jpg", half, q95)
with open(os.path.join(out, "truncated.jpg"), "wb") as f:
    f.write(data.tobytes()[: len(data) * 2 // 5])
with open(os.path.join(out, "garbage.jpg"), "wb") as f:
    f.write(np.random.default_rng(7).bytes(4096))
EOF
}

# The face sets the to-pano cases start from, cut by FACE_CLI.
FACE_SETS=(jpg-word jpg-digit bmp-word bmp-digit tif-word)
make_faces() {
  local set type suffix size
  for set in "${FACE_SETS[@]}"; do
    type="${set%-*}" suffix=()
    [ "${set#*-}" = digit ] && suffix=(--digit-suffix)
    size=1024
    [ "$type" = tif ] && size=256
    rm -rf "$IN/faces-$set" && mkdir -p "$IN/faces-$set" || return 1
    "$FACE_CLI" --threads 2 to-cube -q -s "$size" -t "$type" "${suffix[@]}" \
      -o "$IN/faces-$set" "$IN/pano_4096.jpg" >/dev/null || return 1
  done
}

# Raise when the inputs above change, so that cached ones are made again.
INPUTS_VERSION=1
STAMP="$IN/.complete"
if [ "$(head -n 1 "$STAMP" 2>/dev/null)" != "$INPUTS_VERSION" ] ||
   [ "$BENCH/make_panorama.py" -nt "$STAMP" ]; then
  note "Making the inputs in $IN (faces by $FACE_CLI)"
  rm -f "$STAMP"
  make_pictures || die "could not make the test pictures"
  make_faces || die "$FACE_CLI could not cut the test faces"
  printf '%s\n%s\n' "$INPUTS_VERSION" "$FACE_CLI" >"$STAMP"
elif [ "$(sed -n 2p "$STAMP")" != "$FACE_CLI" ]; then
  note "Using the cached faces cut by $(sed -n 2p "$STAMP")"
fi

# --- one case -----------------------------------------------------------------

: >"$RESULT.part"
COUNT=0
declare -A NAMED

# The md5 and mode of every file under the current folder, by name.
file_fields() {
  local sum name
  while IFS= read -r -d '' name; do
    sum="$(md5sum <"$name")"
    printf '\t%s=%s:%s' "$name" "${sum%% *}" "$(stat -c %a "$name")"
  done < <(find . -type f -printf '%P\0' | sort -z)
}

# The listing on stdout, each line relative to the current folder, '|'-joined.
stdout_field() {
  local lines=() rel=() line
  mapfile -t lines <"$1"
  for line in "${lines[@]}"; do
    if [ -z "$line" ]; then rel+=(""); else rel+=("$(realpath -m -s --relative-to=. -- "$line")"); fi
  done
  local IFS='|'
  printf '%s' "${rel[*]}"
}

# run_case NAME SETUP ARG... : runs the CLI with ARGs in a fresh case folder
# (after the function SETUP, or "-", has run there) and records the line.
run_case() {
  local name="$1" setup="$2" dir status=0 err
  shift 2
  [ -z "${NAMED[$name]:-}" ] || die "two cases named $name"
  NAMED[$name]=1
  [ -n "$CASES" ] && ! [[ "$name" =~ $CASES ]] && return 0
  dir="$CASE_ROOT/$name"
  mkdir -p "$dir"
  (
    cd "$dir" || exit 99
    [ "$setup" = - ] || "$setup" || exit 99
    exec timeout -k 5 "$TIMEOUT" "$CLI" "$@" </dev/null >"$LOGS/$name.out" 2>"$LOGS/$name.err.raw"
  ) || status=$?
  [ "$status" -eq 99 ] && die "$name: setup failed"
  W="$WORK" perl -pe 's/\Q$ENV{W}\E/\$WORK/g' "$LOGS/$name.err.raw" >"$LOGS/$name.err"
  rm -f "$LOGS/$name.err.raw"
  err="$(md5sum <"$LOGS/$name.err")"
  {
    printf '%s\texit=%s\tstderr=%s\tstdout=' "$name" "$status" "${err%% *}"
    (cd "$dir" && stdout_field "$LOGS/$name.out" && file_fields)
    printf '\n'
  } >>"$RESULT.part"
  rm -rf "$dir"
  COUNT=$((COUNT + 1))
  ((COUNT % 25 == 0)) && note "  $COUNT cases"
}

# Setups, run inside the case folder.
old_faces() { printf 'old\n' >pano_4096_front.jpg && printf 'old\n' >pano_4096_bottom.jpg; }
old_pano() { printf 'old\n' >pano.jpg; }
copy_tiny() { cp "$IN/tiny_64x32.JPEG" "my pano ü.JPEG"; }
sub_folder() { mkdir sub; }
missing_face() {
  mkdir faces && cp "$IN"/faces-jpg-word/*.jpg faces/ && rm faces/pano_4096_top.jpg
}
unsuffixed_face() { cp "$IN/faces-jpg-word/pano_4096_front.jpg" face.jpg; }

# --- the matrix -----------------------------------------------------------------

PANO=../../in/pano_4096.jpg
note "to-cube matrix"
declare -A OPTS=(
  [none]="" [digit]="--digit-suffix" [rotate]="--rotate-top" [swap]="--swap-left-right"
  [all]="--digit-suffix --rotate-top --swap-left-right"
)
for type in bmp jpg tif; do
  for size in 64 256 1024 2048; do
    for opt in none digit rotate swap all; do
      for threads in 1 2; do
        # shellcheck disable=SC2086  # the options are separate words
        run_case "cube-$type-$size-$opt-t$threads" - --threads "$threads" to-cube \
          -s "$size" -t "$type" ${OPTS[$opt]} -o . "$PANO"
      done
    done
  done
done

note "to-cube sources"
for src in odd_1000x500.jpg odd_1026x512.bmp odd_1600x400.jpg pano_2048.tif pano_2048.bmp \
           gray_2048.jpg tiny_64x32.JPEG; do
  for threads in 1 2; do
    run_case "src-$src-jpg256-t$threads" - --threads "$threads" to-cube -s 256 -t jpg -o . \
      "../../in/$src"
    run_case "src-$src-bmp64-t$threads" - --threads "$threads" to-cube -s 64 -t bmp \
      --rotate-top -o . "../../in/$src"
  done
done

note "to-cube runs of other shapes"
run_case cube-defaults - to-cube -o . ../../in/tiny_64x32.JPEG
run_case cube-quiet - --threads 2 to-cube -q -s 256 -o . "$PANO"
run_case cube-base-name - --threads 2 to-cube -s 256 -n sky -o . "$PANO"
run_case cube-own-folder copy_tiny to-cube -s 64 "my pano ü.JPEG"
run_case cube-sub-folder sub_folder to-cube -s 64 -t tif -o ./sub/ ../../in/tiny_64x32.JPEG
run_case cube-absolute - to-cube -s 64 -o "$CASE_ROOT/cube-absolute" "$IN/tiny_64x32.JPEG"
run_case cube-two-panoramas - --threads 2 to-cube -s 64 -o . ../../in/tiny_64x32.JPEG \
  ../../in/pano_2048.bmp
run_case cube-force old_faces --threads 2 to-cube -s 64 -f -o . "$PANO"

note "to-cube failures"
run_case fail-missing - to-cube -s 64 -o . ../../in/nothing.jpg
run_case fail-missing-then-one - to-cube -s 64 -o . ../../in/nothing.jpg ../../in/tiny_64x32.JPEG
run_case fail-exists old_faces --threads 2 to-cube -s 64 -o . "$PANO"
run_case fail-extension - to-cube -s 64 -o . ../../in/picture.png
run_case fail-base-name-two - to-cube -s 64 -n sky -o . ../../in/tiny_64x32.JPEG \
  ../../in/pano_2048.bmp
run_case fail-no-folder - to-cube -s 64 -o nowhere ../../in/tiny_64x32.JPEG
run_case fail-garbage - to-cube -s 64 -o . ../../in/garbage.jpg
run_case src-truncated - to-cube -s 64 -o . ../../in/truncated.jpg
run_case fail-size - to-cube -s 7 -o . ../../in/tiny_64x32.JPEG

note "to-pano matrix"
# The face each set is named by: any of the six will do.
declare -A FACE=(
  [jpg-word]=pano_4096_front.jpg [jpg-digit]=pano_4096_3.jpg [bmp-word]=pano_4096_left.bmp
  [bmp-digit]=pano_4096_0.bmp [tif-word]=pano_4096_bottom.tif
)
pano_case() {  # pano_case SET WIDTH TYPE THREADS
  run_case "pano-$1-$2-$3-t$4" - --threads "$4" to-pano -w "$2" -t "$3" -o "pano.$3" \
    "../../in/faces-$1/${FACE[$1]}"
}
for width in 256 1024 4096; do
  for set in jpg-word jpg-digit bmp-word bmp-digit; do
    for type in bmp jpg tif; do
      for threads in 1 2; do pano_case "$set" "$width" "$type" "$threads"; done
    done
  done
done
for set in jpg-word bmp-digit; do
  for type in bmp jpg tif; do
    for threads in 1 2; do pano_case "$set" 8192 "$type" "$threads"; done
  done
done
for set in jpg-digit bmp-word; do
  for threads in 1 2; do pano_case "$set" 8192 jpg "$threads"; done
done
for threads in 1 2; do pano_case tif-word 1024 jpg "$threads"; done
pano_case jpg-word 16384 jpg 2

note "to-pano runs of other shapes"
F=../../in/faces-jpg-word/pano_4096_front.jpg
run_case pano-defaults - to-pano -o pano.jpg ../../in/faces-bmp-word/pano_4096_right.bmp
run_case pano-quiet - --threads 2 to-pano -q -w 1024 -o pano.jpg "$F"
run_case pano-type-from-unknown - to-pano -w 256 -o pano.out "$F"
run_case pano-type-over-extension - to-pano -w 256 -t jpg -o pano.tif "$F"
run_case pano-upper-extension - to-pano -w 256 -o pano.BMP "$F"
run_case pano-sub-folder sub_folder to-pano -w 256 -o ./sub/pano.jpg "$F"
run_case pano-absolute - to-pano -w 256 -o "$CASE_ROOT/pano-absolute/pano.jpg" \
  "$IN/faces-jpg-word/pano_4096_front.jpg"
run_case pano-force old_pano to-pano -w 256 -f -o pano.jpg "$F"

note "to-pano failures"
run_case fail-pano-exists old_pano to-pano -w 256 -o pano.jpg "$F"
run_case fail-pano-missing-face missing_face to-pano -w 256 -o pano.jpg faces/pano_4096_front.jpg
run_case fail-pano-no-face - to-pano -w 256 -o pano.jpg ../../in/faces-jpg-word/pano_4096_nothing.jpg
run_case fail-pano-unsuffixed unsuffixed_face to-pano -w 256 -o pano.jpg face.jpg
run_case fail-pano-no-folder - to-pano -w 256 -o nowhere/pano.jpg "$F"
run_case fail-pano-width - to-pano -w 301 -o pano.jpg "$F"

# --- the inputs, then the result --------------------------------------------------

(
  cd "$IN" || exit 1
  while IFS= read -r -d '' name; do
    sum="$(md5sum <"$name")"
    printf 'input:%s\tmd5=%s\n' "$name" "${sum%% *}"
  done < <(find . -type f ! -name .complete -printf '%P\0' | sort -z)
) >>"$RESULT.part"
{
  printf '# skyfold-cli conformance: %d cases\n' "$COUNT"
  cat "$RESULT.part"
} >"$RESULT" && rm -f "$RESULT.part"
rmdir "$CASE_ROOT" 2>/dev/null
note "$COUNT cases in $(awk -v s="$START" -v e="$EPOCHREALTIME" 'BEGIN {printf "%.0f", e - s}') s;" \
  "written to $RESULT (stdout and stderr of each case in $LOGS)"
