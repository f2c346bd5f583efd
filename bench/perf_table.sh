#!/bin/bash
# Whole-process speed and memory per format: a generated file of every format is read (quorvit-cli dump)
# and read and written again in its own format (quorvit-cli convert --raw), each timed with
# /usr/bin/time; plistutil converts the binary Safari file to XML in the same run, and a comparison of a
# base and five sources closes the table. File sizes are counted in MB of 10^6 bytes.
#
#   bench/perf_table.sh [build folder]      (default: build-bench, as 'make bench' builds it)
#
# Sizes, by environment:
#   PERF_BOOKMARKS / PERF_FOLDERS   the Netscape and binary Safari files (default 100000 / 2000)
#   PERF_OTHERS                     bookmarks in every other format's file (default 20000, folders /50)
#   PERF_COMPARE                    bookmarks in the base and in each of the 5 sources (default 20000)
#   PERF_FORMATS                    the formats to measure (default: all; quorvit-gen --help lists them)
#   PERF_KEEP=1                     keep the generated files (their folder is printed)
#   PERF_READ_PEAK=0                leave out the table of each read's own peak memory
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(realpath "${1:-$HERE/../build-bench}")
CLI=$BUILD/apps/quorvit-cli/quorvit-cli
GEN=$BUILD/bench/generator/quorvit-gen
BIG=${PERF_BOOKMARKS:-100000}
BIG_FOLDERS=${PERF_FOLDERS:-2000}
OTHERS=${PERF_OTHERS:-20000}
COMPARE=${PERF_COMPARE:-20000}
PLISTUTIL=/usr/bin/plistutil
TIME=/usr/bin/time

for tool in "$CLI" "$GEN" "$TIME"; do
    [ -x "$tool" ] || { echo "perf_table.sh: $tool is missing (build with -DQUORVIT_BENCH=ON; apt-get install time)" >&2; exit 1; }
done
FORMATS=${PERF_FORMATS:-$("$GEN" --help | tr -d '\n' | sed -n 's/.*One of: \([^.]*\)\..*/\1/p' | tr -d ' ' | tr ',' ' ')}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quorvit-perf.XXXXXX")
if [ "${PERF_KEEP:-0}" = 1 ]; then echo "files in $WORK"; else trap 'rm -rf "$WORK"' EXIT; fi
# Nothing of the user's: no settings, no browsers.
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_DATA_HOME=$WORK/home/.local/share
mkdir -p "$HOME"

# measure LABEL INPUT_BYTES BOOKMARKS COMMAND...: one table row from one run.
measure() {
    local label=$1 bytes=$2 count=$3
    shift 3
    if ! "$TIME" -f '%e %U %S %M' -o "$WORK/time" "$@" >/dev/null 2>"$WORK/stderr"; then
        printf '%-60s  FAILED: %s\n' "$label" "$(tail -n 1 "$WORK/stderr")"
        return
    fi
    tail -n 1 "$WORK/time" | awk -v label="$label" -v bytes="$bytes" -v count="$count" '{
        mb = bytes / 1e6; wall = $1 < 0.01 ? 0.01 : $1; peak = $4 / 1024
        cpu = $2 + $3 < 0.01 ? 0.01 : $2 + $3
        printf "%-60s %9d %7.1f %7.2f %6.2f %6.2f %7.1f %7.1f %8.0f %6.1f\n",
            label, count, mb, $1, $2, $3, mb / wall, mb / cpu, peak, peak / (mb > 0 ? mb : 1)
    }'
}

size() { stat -c %s "$1"; }

# MB/s by wall-clock time, and by processor time (user + sys), which a busy machine disturbs less.
printf '%-60s %9s %7s %7s %6s %6s %7s %7s %8s %6s\n' "whole process" "bookmarks" "in MB" "wall s" "user" "sys" \
    "MB/s" "cpuMB/s" "peak MB" "peak/in"
for format in $FORMATS; do
    count=$OTHERS folders=$((OTHERS / 50))
    case $format in netscape | safari-binary) count=$BIG folders=$BIG_FOLDERS ;; esac
    file=$WORK/$format.bookmarks
    case $format in quorvit) file=$WORK/Bookmarks.quorvit ;; places) file=$WORK/places.sqlite ;; esac
    "$GEN" --format "$format" --bookmarks "$count" --folders "$folders" -o "$file"
    writer=$format out=$WORK/out-$format
    [ "$format" = safari-binary ] && writer=safari
    [ "$format" = quorvit ] && out=$out.quorvit
    # Firefox's writer fills an existing profile's database, as after the browser's first start.
    [ "$format" = places ] && "$GEN" --format places --bookmarks 0 --folders 0 -o "$out"
    measure "$format: read (dump)" "$(size "$file")" "$count" "$CLI" dump "$file"
    measure "$format: read + write (convert --raw -> $writer)" "$(size "$file")" "$count" \
        "$CLI" convert --raw "$file" "$out" --to "$writer"
    if [ "$format" = safari-binary ] && [ -x "$PLISTUTIL" ]; then
        measure "  plistutil binary -> XML, same file" "$(size "$file")" "$count" \
            "$PLISTUTIL" -i "$file" -o "$WORK/plistutil.xml" -f xml
    fi
    rm -f "$file" "$out" "$WORK/plistutil.xml"
done

if [ "$COMPARE" -gt 0 ]; then
    sources=()
    for seed in 1 2 3 4 5 6; do
        "$GEN" --format netscape --bookmarks "$COMPARE" --folders $((COMPARE / 50)) --seed $seed \
            -o "$WORK/compare-$seed.html"
        [ $seed -gt 1 ] && sources+=("$WORK/compare-$seed.html")
    done
    total=0
    for seed in 1 2 3 4 5 6; do total=$((total + $(size "$WORK/compare-$seed.html"))); done
    measure "compare: base + 5 sources (netscape)" "$total" $((COMPARE * 6)) \
        "$CLI" compare --base "$WORK/compare-1.html" --sources "${sources[@]}"
fi

# Each read's own peak, measured inside one process (quorvit-bench BM_ReadPeakMemory, which says how), against
# the budget of 4 x the file + 500 bytes per bookmark: the whole-process peaks above also count the program
# itself and the dump's output.
BENCH=$BUILD/bench/quorvit-bench
if [ "${PERF_READ_PEAK:-1}" = 1 ] && [ -x "$BENCH" ]; then
    echo
    "$BENCH" --benchmark_filter='^BM_ReadPeakMemory/' --benchmark_format=csv 2>"$WORK/bench-stderr" | awk -F, '
        NR == 1 { for (i = 1; i <= NF; i++) { gsub(/"/, "", $i); column[$i] = i }
                  printf "%-60s %7s %8s %8s %8s %6s\n", "read alone (20000 bookmarks)", "in MB", "peak MB",
                         "kept MB", "limit MB", "ratio"; next }
        { gsub(/"/, "")
          printf "%-60s %7.1f %8.1f %8.1f %8.1f %6.2f%s\n", $column["label"] ": read peak", $column["file_MB"],
                 $column["peak_MB"], $column["kept_MB"], $column["limit_MB"], $column["peak/limit"],
                 ($column["peak/limit"] > 1 ? "  OVER" : "") }'
fi
