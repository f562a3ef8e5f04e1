#!/usr/bin/env bash
# Scan benchmark (not run by CI). Builds the release preset's scan tool,
# writes deterministic trees of 1,000, 10,000 and 100,000 files (five files
# per directory, eight subdirectories per directory) once, and reports in one
# run on the same trees, with a warm cache:
#   - the Scan command over an in-memory form, first in fresh mode, then in
#     merge mode against the list it just built,
#   - "find DIR -type f | sort" over the same tree.
# Each timing is the best of QX_BENCH_ROUNDS rounds (default 3). QX_BENCH_DIR
# holds the trees (default: $TMPDIR/qxweb-bench, about 0.5 GB of inodes for
# the largest tree); QX_BENCH_SIZES replaces the list of tree sizes.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=${QX_BENCH_DIR:-${TMPDIR:-/tmp}/qxweb-bench}
rounds=${QX_BENCH_ROUNDS:-3}
sizes=${QX_BENCH_SIZES:-1000 10000 100000}

cmake --preset release >/dev/null
cmake --build --preset release --target qx_scan_bench qxweb >/dev/null
tool=$root/build/release/bench/qx_scan_bench
qxweb=$root/build/release/tools/qxweb/qxweb
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"

# Trees are written again only when their generator changed.
stamp_name=.made-by-$(sha1sum bench/scan_bench.cpp | cut -c1-12)
for n in $sizes; do
  tree=$work/scan-tree-$n
  if [ ! -f "$tree/$stamp_name" ]; then
    rm -rf "$tree"
    mkdir -p "$work"
    "$tool" make-tree "$tree" "$n"
    touch "$tree/$stamp_name"
  fi
done

# Seconds of the best of $rounds runs of "find | sort" over $1.
find_best() {
  local best="" start end t
  for ((round = 1; round <= rounds; round++)); do
    start=$EPOCHREALTIME
    find "$1" -type f | sort >/dev/null
    end=$EPOCHREALTIME
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || (($(echo "$t < $best" | bc))); then best=$t; fi
  done
  echo "$best"
}

# Seconds of the best of $rounds runs of "qxweb scan" over $1: the whole
# program, opening the project, merging with its saved list of the same tree
# and saving it again.
qxweb_best() {
  local project=$work/scan-bench.QXS best="" start end t
  "$qxweb" new "$project" --force --name Bench --command-line bench \
    --seal-from "$1" --put-to "$work/scan-bench-out" >/dev/null
  "$qxweb" scan "$project" >/dev/null
  for ((round = 1; round <= rounds; round++)); do
    start=$EPOCHREALTIME
    "$qxweb" scan "$project" >/dev/null
    end=$EPOCHREALTIME
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || (($(echo "$t < $best" | bc))); then best=$t; fi
  done
  rm -f "$project"
  echo "$best"
}

echo
echo "Seconds, best of $rounds rounds, warm cache; microseconds per file in brackets."
echo "qxweb scan is the whole program: open the project, merge, save the project."
printf '%-8s %20s %20s %20s %20s %12s\n' files "scan, fresh" "scan, merge" "qxweb scan" \
  "find | sort" "fresh/find"
for n in $sizes; do
  tree=$work/scan-tree-$n
  # Warm the cache so that no side pays for the first read.
  find "$tree" >/dev/null
  "$tool" scan "$tree" 1 >/dev/null
  out=$("$tool" scan "$tree" "$rounds")
  # The stamp file is one more file for find and the scan alike.
  files=$(echo "$out" | awk '$1 == "files" { print $2 }')
  fresh=$(echo "$out" | awk '$1 == "fresh" { print $2 }')
  fresh_us=$(echo "$out" | awk '$1 == "fresh" { print $3 }')
  merge=$(echo "$out" | awk '$1 == "merge" { print $2 }')
  merge_us=$(echo "$out" | awk '$1 == "merge" { print $3 }')
  find_s=$(find_best "$tree")
  program_s=$(qxweb_best "$tree")
  echo "$files $fresh $fresh_us $merge $merge_us $program_s $find_s" | awk '{
    printf "%-8d %8.3f (%7.2f us) %8.3f (%7.2f us) %8.3f (%7.2f us) %8.3f (%7.2f us) %12.2f\n",
      $1, $2, $3, $4, $5, $6, $6 * 1e6 / $1, $7, $7 * 1e6 / $1, $2 / $7 }'
done
