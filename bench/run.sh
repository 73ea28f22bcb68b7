#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them all: every job on models of
# about 10 KB, 100 KB, 1 MB and 13 MB beside a plain copy of the same files,
# process-all and the commands over 10,000 small models, the peak memory and
# the fresh memory (pages touched for the first time, against a target per
# job) of every job as a process of its own, the commands on hostile models
# (time and peak memory against 8 x the input + 64 MiB), the bytes each
# job moves, the col command with its default error bound beside
# --max-error 0 on one model and over a folder of varied models; then
# brennix_col_distance, which measures how far the default collision lies
# from the exact one on every model it makes.
# Prints the results as Markdown and writes them, with a description of the
# machine, to bench/RESULTS.md. Takes about ten minutes on two cores,
# building included, most of it the col command's default over the varied
# models and the distance measurement.
#
# The description of the machine includes what fresh pages cost here: the
# median time of 5 runs that map 100 MiB of anonymous memory, write one byte
# to each page and unmap it (brennix_bench_job pages), with the minor page
# faults that took. At 1 ms per MiB or more page faults count as dear and a
# sentence under the machine table says the timings were taken where they
# are; below that they count as cheap, and the sentence says that the
# fresh-memory table shows what a machine where they are dear would pay.
#
#   bench/run.sh [brennix_bench flags...]
#
# Environment:
#   BENCH_BUILD_DIR  build folder (default: build-bench in the repository)
#   BENCH_WORK_DIR   folder for the generated files (about 200 MB). Default: a
#                    fresh folder in /dev/shm when that is a memory file system,
#                    removed at the end, else BUILD/bench-work. Its file system
#                    is part of what is measured: on a disk file system,
#                    replacing a file's contents (as every save does, through a
#                    temporary file and a rename) can force its data out to the
#                    disk, and the disk's speed then swamps the jobs' own cost.
#   BENCH_JOBS       parallel build jobs (default: 2)
#   BENCH_COL_DISTANCE  0 to leave out the distance measurement (default: 1).
#                    It takes the same --varied-files and --varied-seed as
#                    brennix_bench.
#
# Other engineers' builds skew the numbers: run it when `uptime` shows a
# load well below 1; the load at the start and the end goes into the results.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${BENCH_BUILD_DIR:-build-bench}"
jobs="${BENCH_JOBS:-2}"
if [[ -n "${BENCH_WORK_DIR:-}" ]]; then
  work="$BENCH_WORK_DIR"
elif [[ "$(stat -f -c %T /dev/shm 2>/dev/null)" == tmpfs ]]; then
  work="$(mktemp -d /dev/shm/brennix-bench.XXXXXX)"
  trap 'rm -rf "$work"' EXIT
else
  work="$build/bench-work"
fi

generator=()
if [[ ! -f "$build/CMakeCache.txt" ]] && command -v ninja >/dev/null; then
  generator=(-G Ninja)
fi
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DBRENNIX_BUILD_BENCH=ON -DBRENNIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target brennix_bench brennix_col_distance

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
# What fresh pages cost: "milliseconds minorFaults pageBytes" for 100 MiB.
read -r page_ms page_faults page_bytes \
  < <("$build/bin/brennix_bench_job" pages 100 5 || true) || true
started=$(date +%s)
table="$build/bench-results.md"
"$build/bin/brennix_bench" --workdir="$work" --markdown="$table" "$@"
distance="$build/col-distance.md"
rm -f "$distance"
if [[ "${BENCH_COL_DISTANCE:-1}" != 0 ]]; then
  distance_flags=()
  for flag in "$@"; do
    case "$flag" in
      --varied-files=*|--varied-seed=*) distance_flags+=("$flag") ;;
    esac
  done
  # Exit status 1 means a model beyond the bound; the table says which.
  status=0
  "$build/bin/brennix_col_distance" --markdown="$distance" "${distance_flags[@]}" || status=$?
  if (( status > 1 )); then
    echo "brennix_col_distance failed (exit status $status)" >&2
    rm -f "$distance"
  fi
fi
seconds=$(( $(date +%s) - started ))
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"

thousands() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
if [[ -n "${page_ms:-}" ]]; then
  page_row="$(awk -v ms="$page_ms" 'BEGIN { printf "%.0f ms (%.1f ms per MiB", ms, ms / 100 }')"
  page_row+="; $(thousands "$page_faults") minor faults of $(( page_bytes / 1024 )) KiB pages)"
  if awk -v ms="$page_ms" 'BEGIN { exit !(ms >= 100) }'; then
    page_row+=" — page faults are dear here"
    page_note="The timings below were taken on a machine where page faults are dear."
  else
    page_row+=" — page faults are cheap here"
    page_note="Page faults are cheap on this machine: timings on a machine where they are dear"
    page_note+=" (about 5 ms per MiB of fresh pages) could not be taken here; the fresh-memory"
    page_note+=" table shows what such a machine would pay."
  fi
else
  page_row="not measured"
  page_note="What page faults cost on this machine could not be measured."
fi

cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
fstype="$( (findmnt -n -o FSTYPE -T "$work" 2>/dev/null || stat -f -c %T "$work") | head -1)"
{
  echo "# Benchmark results"
  echo
  echo "Made by \`bench/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') in ${seconds} s."
  echo
  echo "| machine | |"
  echo "|---|---|"
  echo "| CPU | $(lscpu | sed -n 's/^Model name: *//p' | head -1) |"
  echo "| cores | $(nproc) online ($(lscpu | sed -n 's/^CPU(s): *//p' | head -1) CPUs, $(lscpu | sed -n 's/^Thread(s) per core: *//p') threads per core) |"
  echo "| memory | $(free -h | awk '/^Mem:/ {print $2}') |"
  echo "| kernel | $(uname -sr) |"
  echo "| compiler | $("$cxx" --version | head -1) |"
  echo "| build | Release (CMAKE_BUILD_TYPE), Google Benchmark $(pkg-config --modversion benchmark 2>/dev/null || echo '?') |"
  echo "| work folder file system | $fstype |"
  echo "| load average (1, 5, 15 min) | before: $load_before; after: $load_after |"
  echo "| touching 100 MiB of fresh memory | $page_row |"
  echo
  echo "$page_note"
  echo
  cat "$table"
  if [[ -f "$distance" ]]; then
    echo
    cat "$distance"
  fi
} > bench/RESULTS.md
echo "Wrote bench/RESULTS.md"
