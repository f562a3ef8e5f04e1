#!/usr/bin/env bash
# Codec benchmark (not run by CI). Builds the release preset, writes the
# deterministic corpus once, and reports in one run on the same data:
#   - "qxweb compress" over every file of the tree against "gzip -6 -c",
#   - "qxweb expand-file" over every member against "gzip -dc",
#   - the same two comparisons on the single 200 MB file,
#   - peak memory (maximum resident set) for the 200 MB file and a small one.
# Each timing is the best of QX_BENCH_ROUNDS rounds (default 3); the two
# programs take turns going first (see bench_common.sh for the settings).
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"

list=$work/files
(cd "$tree" && find . -type f -print0 | sort -z) >"$list"
file_count=$(tr -cd '\0' <"$list" | wc -c)
tree_bytes=$(cd "$tree" && du -sb --apparent-size . | cut -f1)

# Members written by gzip are the input of both expanders.
members=$work/members
if [ ! -f "$members/.done" ] || [ "$members/.done" -ot "$stamp" ]; then
  rm -rf "$members"
  (cd "$tree" && find . -type d -print0) | (cd "$work" && mkdir -p members && cd members &&
    xargs -0 mkdir -p)
  while IFS= read -r -d '' f; do
    gzip -6 -c "$tree/$f" >"$members/$f.gz"
  done <"$list"
  gzip -6 -c "$single" >"$work/single.bin.gz"
  touch "$members/.done"
fi

out=$work/out
fresh_out() {
  rm -rf "$out"
  (cd "$tree" && find . -type d -print0) | (mkdir -p "$out" && cd "$out" && xargs -0 mkdir -p)
}

# CPU seconds (user + system) used by the finished children of this shell;
# "times" must run in this shell itself, not in a command substitution.
children_cpu() {
  times >"$work/times"
  tail -n 1 "$work/times" | awk '{ t = 0; for (i = 1; i <= 2; i++) { split($i, p, "m");
    sub("s", "", p[2]); t += p[1] * 60 + p[2] } printf "%.3f", t }'
}

# "elapsed cpu" seconds of one pass of $1 over the tree.
tree_pass() {
  fresh_out
  local start=$EPOCHREALTIME cpu_start f
  children_cpu >"$work/cpu_start"
  cpu_start=$(<"$work/cpu_start")
  case $1 in
    qx-compress)
      while IFS= read -r -d '' f; do
        "$qxweb" compress "$tree/$f" "$out/$f.gz" >/dev/null
      done <"$list" ;;
    gzip-compress)
      while IFS= read -r -d '' f; do
        gzip -6 -c "$tree/$f" >"$out/$f.gz"
      done <"$list" ;;
    qx-expand)
      while IFS= read -r -d '' f; do
        "$qxweb" expand-file "$members/$f.gz" "$out/$f" >/dev/null
      done <"$list" ;;
    gzip-expand)
      while IFS= read -r -d '' f; do
        gzip -dc "$members/$f.gz" >"$out/$f"
      done <"$list" ;;
  esac
  local end=$EPOCHREALTIME cpu_end
  children_cpu >"$work/cpu_end"
  cpu_end=$(<"$work/cpu_end")
  echo "$(echo "$end - $start" | bc) $(echo "$cpu_end - $cpu_start" | bc)"
}

# "elapsed cpu" seconds of $1 on the single file.
single_pass() {
  rm -f "$work/single.out"
  local start=$EPOCHREALTIME cpu_start
  children_cpu >"$work/cpu_start"
  cpu_start=$(<"$work/cpu_start")
  case $1 in
    qx-compress) "$qxweb" compress "$single" "$work/single.out" >/dev/null ;;
    gzip-compress) gzip -6 -c "$single" >"$work/single.out" ;;
    qx-expand) "$qxweb" expand-file "$work/single.bin.gz" "$work/single.out" >/dev/null ;;
    gzip-expand) gzip -dc "$work/single.bin.gz" >"$work/single.out" ;;
  esac
  local end=$EPOCHREALTIME cpu_end
  children_cpu >"$work/cpu_end"
  cpu_end=$(<"$work/cpu_end")
  echo "$(echo "$end - $start" | bc) $(echo "$cpu_end - $cpu_start" | bc)"
}

# Warm the page cache so that neither side pays for the first read.
cat "$single" "$work/single.bin.gz" >/dev/null
find "$tree" "$members" -type f -exec cat {} + >/dev/null

declare -A best
for ((round = 1; round <= rounds; round++)); do
  order="qx gzip"
  ((round % 2 == 0)) && order="gzip qx"
  for task in compress expand; do
    for who in $order; do
      best[tree-$who-$task]=$(best_of "${best[tree-$who-$task]:-}" "$(tree_pass "$who-$task")")
      best[single-$who-$task]=$(best_of "${best[single-$who-$task]:-}" \
        "$(single_pass "$who-$task")")
    done
  done
done

# Both sides must have produced the same data.
"$qxweb" expand-file "$work/single.bin.gz" "$work/single.out" >/dev/null
cmp -s "$work/single.out" "$single" || { echo "qxweb expand-file: wrong output" >&2; exit 1; }
"$qxweb" compress "$single" "$work/single.qx.gz" >/dev/null
gzip -dc "$work/single.qx.gz" | cmp -s - "$single" || { echo "qxweb compress: wrong output" >&2; exit 1; }

# Peak memory: the 200 MB file against a small one (about 10 kB).
small=$(cd "$tree" && find . -type f -size +8k -size -12k -print | sort | head -n 1)
gzip -6 -c "$tree/$small" >"$work/small.gz"
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
mem_qc_big=$(peak "$qxweb" compress "$single" "$work/m.out")
mem_qc_small=$(peak "$qxweb" compress "$tree/$small" "$work/m.out")
mem_qx_big=$(peak "$qxweb" expand-file "$work/single.bin.gz" "$work/m.out")
mem_qx_small=$(peak "$qxweb" expand-file "$work/small.gz" "$work/m.out")
mem_gc_big=$(peak gzip -6 -c "$single")
mem_gc_small=$(peak gzip -6 -c "$tree/$small")

# line TITLE "qx-elapsed qx-cpu" "gzip-elapsed gzip-cpu"
line() {
  echo "$2 $3" | awk -v title="$1" '{ printf "%-31s %7.2f %7.2f %6.3f   %7.2f %7.2f %6.3f\n",
    title, $1, $3, $1 / $3, $2, $4, $2 / $4 }'
}
echo
echo "Corpus: $file_count files, $((tree_bytes / 1048576)) MB in the tree; single file" \
  "$(($(stat -c %s "$single") / 1048576)) MB. Best of $rounds rounds."
echo "Seconds, best of each: elapsed qxweb, gzip, ratio; CPU (user+system) qxweb, gzip, ratio."
echo "CPU times vary less than elapsed times when other work shares the machine."
line "compress, every file (gzip -6)" "${best[tree-qx-compress]}" "${best[tree-gzip-compress]}"
line "expand, every file (gzip -dc)" "${best[tree-qx-expand]}" "${best[tree-gzip-expand]}"
line "compress, 200 MB file" "${best[single-qx-compress]}" "${best[single-gzip-compress]}"
line "expand, 200 MB file" "${best[single-qx-expand]}" "${best[single-gzip-expand]}"
echo "Stored size of the 200 MB file: qxweb $(stat -c %s "$work/single.qx.gz")," \
  "gzip -6 $(stat -c %s "$work/single.bin.gz") bytes"
echo "Peak memory (max RSS, kB):"
printf '  %-22s 200 MB file %7s   small file %7s\n' "qxweb compress" "$mem_qc_big" "$mem_qc_small"
printf '  %-22s 200 MB file %7s   small file %7s\n' "qxweb expand-file" "$mem_qx_big" \
  "$mem_qx_small"
printf '  %-22s 200 MB file %7s   small file %7s\n' "gzip -6 (reference)" "$mem_gc_big" \
  "$mem_gc_small"
rm -rf "$out" "$work/single.out" "$work/m.out"
