#!/usr/bin/env bash
# Seal benchmark (not run by CI). Builds the release preset, writes the
# deterministic corpus of the codec benchmark once, and reports in one run on
# the same tree:
#   - "qxweb seal --scan" (scan, then every file deflated and digested, header
#     and landing page) with the default jobs and with --jobs 1, and signed
#     (each stored file's SHA-256 taken too, and the signature written), into
#     a new put-to directory each time;
#   - re-seals of that package: with nothing changed, and after 1% of the
#     files were touched (stored again, as after an edit);
#   - the peers: "zip -6 -r" (one process, one deflated member per file),
#     "tar cf - | gzip -6" and "tar cf - | pigz -6" (deflate on every core);
#   - peak memory of a seal of a small file, of the 200 MB file and of the
#     whole tree.
# Each timing is the best of QX_BENCH_ROUNDS rounds (default 3), the
# programs taking turns going first (see bench_common.sh for the settings).
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"

file_count=$(find "$tree" -type f | wc -l)
tree_bytes=$(du -sb --apparent-size "$tree" | cut -f1)

# The settings of this run stay out of the user's own.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
out=$work/seal-out
project=$work/bench.QXS

# "elapsed cpu" seconds of one run of $1, which writes $2 (none: keep).
pass() {
  if [ -n "$2" ]; then rm -rf "$2"; fi
  local start=$EPOCHREALTIME
  /usr/bin/time -f '%U %S' -o "$work/cpu" bash -c "$1" >/dev/null 2>&1
  local end=$EPOCHREALTIME
  echo "$(echo "$end - $start" | bc) $(awk '{ print $1 + $2 }' "$work/cpu")"
}

# Each round seals into directories of its own, removed only at the end:
# creating thousands of files right after deleting as many makes the file
# system search its inode tables, which would be timed as part of the seal.
rm -rf "$out".* "$work"/one.* "$work"/signed.*
rm -f "$work/bench.key" "$work/bench.key.pub"
QXWEB_KEY_PASSPHRASE= "$qxweb" key new "$work/bench.key" >/dev/null 2>&1
declare -A written=([zip]=$work/out.zip [targz]=$work/out.tgz [pigz]=$work/out.pigz.tgz)
# One in a hundred files, touched before the second re-seal of each round.
mapfile -t touched < <(find "$tree" -type f | sort | awk 'NR % 100 == 1')
declare -A run=(
  [seal]="'$qxweb' seal --scan --create-put-to '$project'"
  [seal1]="'$qxweb' seal --scan --jobs 1 --create-put-to '$work/one.QXS'"
  [signed]="'$qxweb' seal --scan --create-put-to --sign '$work/bench.key' '$work/signed.QXS'"
  [same]="'$qxweb' seal --scan '$project'"
  [touched]="'$qxweb' seal --scan '$project'"
  [zip]="cd '$tree' && zip -6 -r -q '$work/out.zip' ."
  [targz]="tar cf - -C '$tree' . | gzip -6 >'$work/out.tgz'"
  [pigz]="tar cf - -C '$tree' . | pigz -6 >'$work/out.pigz.tgz'"
)
find "$tree" -type f -exec cat {} + >/dev/null
declare -A best
for ((round = 1; round <= rounds; round++)); do
  "$qxweb" new "$project" --force --name Bench --command-line bench \
    --seal-from "$tree" --put-to "$out.$round" >/dev/null
  "$qxweb" new "$work/one.QXS" --force --name Bench --command-line bench \
    --seal-from "$tree" --put-to "$work/one.$round" >/dev/null
  written[seal]=$out.$round
  "$qxweb" new "$work/signed.QXS" --force --name Bench --command-line bench \
    --seal-from "$tree" --put-to "$work/signed.$round" >/dev/null
  written[seal1]=$work/one.$round
  written[signed]=$work/signed.$round
  written[same]=
  written[touched]=
  order="seal signed seal1 zip targz pigz"
  ((round % 2 == 0)) && order="pigz targz zip seal1 signed seal"
  # The re-seals go over the package the seal of this round made.
  for who in $order same touched; do
    [ "$who" = touched ] && touch "${touched[@]}"
    best[$who]=$(best_of "${best[$who]:-}" "$(pass "${run[$who]}" "${written[$who]}")")
  done
done
"$qxweb" verify "$out.$rounds/Bench.qxw" >/dev/null ||
  { echo "seal_bench: package does not verify" >&2; exit 1; }
stored_bytes=$(du -sb --apparent-size "$out.$rounds" | cut -f1)

# Peak memory: a project over one small file and one over the 200 MB file.
peak_of() {
  local dir=$work/mem-src out_dir=$work/mem-out
  rm -rf "$dir" "$out_dir"
  mkdir -p "$dir" "$out_dir"
  cp "$1" "$dir/"
  "$qxweb" new "$work/mem.QXS" --force --name Mem --command-line x \
    --seal-from "$dir" --put-to "$out_dir" >/dev/null
  /usr/bin/time -f %M "$qxweb" seal --scan "$work/mem.QXS" 2>&1 >/dev/null | tail -n 1
  rm -rf "$dir" "$out_dir"
}
small=$(find "$tree" -type f -size +8k -size -12k | sort | head -n 1)
mem_small=$(peak_of "$small")
mem_big=$(peak_of "$single")
mem_tree=$(/usr/bin/time -f %M "$qxweb" seal --scan --full "$project" 2>&1 >/dev/null | tail -n 1)

echo
echo "Corpus: $file_count files, $((tree_bytes / 1048576)) MB. Best of $rounds rounds."
echo "Seconds, best of each: elapsed, CPU (user+system), and the ratio to qxweb seal."
line() { ratio_line "$1" "$2" seal; }
line "qxweb seal --scan" seal
line "qxweb seal --scan --sign KEY" signed
line "qxweb seal --scan --jobs 1" seal1
line "re-seal, nothing changed" same
line "re-seal, 1% of files touched" touched
line "zip -6 -r" zip
line "tar cf - | gzip -6" targz
line "tar cf - | pigz -6" pigz
echo "$(nproc) processors. Fresh seal / unchanged re-seal: $(echo "${best[seal]} ${best[same]}" |
  awk '{ printf "%.1f", $1 / $3 }')x"
echo "qxweb seal / tar cf - | pigz -6 (elapsed): $(echo "${best[seal]} ${best[pigz]}" |
  awk '{ printf "%.2f", $1 / $3 }')x"
echo "MB/s of qxweb seal (elapsed): $(echo "${best[seal]}" |
  awk -v b="$tree_bytes" '{ printf "%.1f", b / 1048576 / $1 }')"
echo "Stored bytes: seal $stored_bytes, zip $(stat -c %s "$work/out.zip"), tar+gzip" \
  "$(stat -c %s "$work/out.tgz"), tar+pigz $(stat -c %s "$work/out.pigz.tgz")"
echo "Peak memory of a seal (max RSS, kB): small file $mem_small, 200 MB file $mem_big," \
  "whole tree $mem_tree"
rm -rf "$out".* "$work"/one.* "$work"/signed.* "$work/out.zip" "$work/out.tgz" "$work/out.pigz.tgz"
