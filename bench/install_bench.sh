#!/usr/bin/env bash
# Install benchmark (not run by CI). Builds the release preset, writes the
# deterministic corpus of the codec benchmark once, seals a copy of its tree,
# serves the package and a tar.gz of the same tree from a local nginx, and
# reports in one run:
#   - "qxweb install URL" into a fresh cache (every file fetched, verified and
#     written as stored), the same of a signed seal of the tree (its signature
#     checked and every file's SHA-256 taken as well), and "qxweb install URL --launch" (the files expanded
#     too, then a program of the tree that does nothing started), against
#     "curl | tar xzf -" of the whole archive into a fresh directory: elapsed
#     and CPU, and the peak memory of the installs;
#   - "qxweb unpack" of the package on disk into a fresh directory against
#     "tar xzf" of the archive on disk;
#   - "qxweb update NAME" after 1% of the files were changed and the copy
#     re-sealed, of a cache in stored form and of one in expanded form (after
#     --launch): its time, and the bytes and requests it took from the server
#     (nginx's access log) against the archive a "curl | tar" would fetch again.
# Each timing is the best of QX_BENCH_ROUNDS rounds (default 3), the
# programs taking turns going first (see bench_common.sh for the settings).
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
if ! command -v curl >/dev/null; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get install -y -q --no-install-recommends curl >/dev/null
fi

# The tree is sealed from a copy: the update changes files, the corpus stays as generated.
src=$work/install-src serve=$work/serve ng=$work/nginx project=$work/install.QXS
rm -rf "$src" "$serve" "$ng" "$work"/inst.* "$work"/untar.* "$work"/untar-disk.* "$work"/unpack.*
cp -a "$tree" "$src"
printf '#!/bin/sh\nexit 0\n' >"$src/bench" # the command line, for --launch
mkdir -p "$serve" "$ng"
export XDG_CONFIG_HOME=$work/seal-config
mkdir -p "$XDG_CONFIG_HOME"
"$qxweb" new "$project" --force --name Bench --command-line bench \
  --seal-from "$src" --put-to "$serve/put" >/dev/null
"$qxweb" seal --scan --create-put-to "$project" >/dev/null
# The same tree sealed with a key, into a put-to directory of its own.
rm -f "$work/bench.key" "$work/bench.key.pub"
QXWEB_KEY_PASSPHRASE= "$qxweb" key new "$work/bench.key" >/dev/null 2>&1
"$qxweb" new "$work/signed.QXS" --force --name Bench --command-line bench \
  --seal-from "$src" --put-to "$serve/signed" >/dev/null
"$qxweb" seal --scan --create-put-to --sign "$work/bench.key" "$work/signed.QXS" >/dev/null
tar cf - -C "$src" . | gzip -6 >"$serve/tree.tar.gz"
file_count=$(find "$src" -type f | wc -l)
tree_bytes=$(du -sb --apparent-size "$src" | cut -f1)
archive_bytes=$(stat -c %s "$serve/tree.tar.gz")
stored_bytes=$(du -sb --apparent-size "$serve/put" | cut -f1)

# A server of its own on a free port, stopped at exit.
port=18480
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
user=
[ "$(id -u)" -eq 0 ] && user="user root;"
cat >"$ng/nginx.conf" <<EOF
$user
worker_processes 2;
daemon off;
error_log $ng/error.log;
pid $ng/nginx.pid;
events { worker_connections 256; }
http {
  log_format bench '\$request \$status \$body_bytes_sent';
  access_log $ng/access.log bench;
  client_body_temp_path $ng/body;
  proxy_temp_path $ng/proxy;
  fastcgi_temp_path $ng/fastcgi;
  uwsgi_temp_path $ng/uwsgi;
  scgi_temp_path $ng/scgi;
  types { text/html htm; }
  default_type application/octet-stream;
  sendfile on;
  server { listen 127.0.0.1:$port; root $serve; }
}
EOF
/usr/sbin/nginx -p "$ng" -c "$ng/nginx.conf" -e "$ng/error.log" &
nginx_pid=$!
trap 'kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true' EXIT
base=http://127.0.0.1:$port
for ((i = 0; i < 50; i++)); do
  curl -sfo /dev/null "$base/put/Bench.qxw" && break
  sleep 0.1
done

# One run of $1: its output in $work/out, "elapsed cpu" in $took, its peak memory in $rss.
pass() {
  local start=$EPOCHREALTIME
  /usr/bin/time -f '%U %S %M' -o "$work/cpu" bash -c "$1" >"$work/out" 2>&1 ||
    { echo "install_bench: failed: $1" >&2; cat "$work/out" "$work/cpu" >&2; exit 1; }
  local end=$EPOCHREALTIME
  took="$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }')"
  took+=" $(tail -n 1 "$work/cpu" | awk '{ print $1 + $2 }')"
  rss=$(tail -n 1 "$work/cpu" | awk '{ print $3 }')
}
# Bytes and requests the server logged after line $1 of its access log; the
# signature an unsigned package does not have is no failed request.
served_since() {
  tail -n +$(($1 + 1)) "$ng/access.log" |
    awk '{ n++; b += $NF; if ($(NF - 1) >= 400 && $2 !~ /[.]sig$/) bad++ }
    END { printf "%d %d %d\n", b, n, bad }'
}
# Each round writes into directories of its own, removed only at the end;
# a cache is its own settings and data directories.
client() {
  echo "XDG_DATA_HOME='$work/inst.$1/data' XDG_CONFIG_HOME='$work/inst.$1/config'"
}
fresh() {
  mkdir -p "$work"/inst.{,launch.,signed.}$1/{data,config} "$work/untar.$1" "$work/untar-disk.$1"
}

# A first install, untimed: it must work, and it warms the page cache.
fresh 0
logged=$(wc -l <"$ng/access.log")
env XDG_DATA_HOME="$work/inst.0/data" XDG_CONFIG_HOME="$work/inst.0/config" \
  "$qxweb" install "$base/put/Bench.qxw"
read -r install_fetched install_requests install_bad < <(served_since "$logged")
curl -s "$base/tree.tar.gz" | tar xzf - -C "$work/untar.0"

declare -A best each
declare -A rss_of=([install]=0 [launch]=0 [signed]=0)
for ((round = 1; round <= rounds; round++)); do
  fresh "$round"
  declare -A run=(
    [install]="$(client "$round") '$qxweb' install '$base/put/Bench.qxw'"
    [launch]="$(client "launch.$round") '$qxweb' install '$base/put/Bench.qxw' --launch"
    [signed]="$(client "signed.$round") '$qxweb' install '$base/signed/Bench.qxw'"
    [untar]="curl -s '$base/tree.tar.gz' | tar xzf - -C '$work/untar.$round'"
    [unpack]="'$qxweb' unpack '$serve/put/Bench.qxw' '$work/unpack.$round'"
    [tardisk]="tar xzf '$serve/tree.tar.gz' -C '$work/untar-disk.$round'"
  )
  order="install signed launch untar unpack tardisk"
  ((round % 2 == 0)) && order="tardisk unpack untar launch signed install"
  for who in $order; do
    pass "${run[$who]}"
    best[$who]=$(best_of "${best[$who]:-}" "$took")
    each[$who]+=" ${took%% *}"
    if [ -n "${rss_of[$who]:-}" ] && ((rss > rss_of[$who])); then rss_of[$who]=$rss; fi
  done
done

# Updates of the last install: each round changes one file in a hundred
# (a line appended), re-seals, and times "qxweb update".
mapfile -t changed < <(find "$src" -type f | sort | awk 'NR % 100 == 1')
update_fetched=0 update_requests=0
for ((round = 1; round <= rounds; round++)); do
  for f in "${changed[@]}"; do echo "bench change $round" >>"$f"; done
  "$qxweb" seal --scan "$project" >/dev/null
  logged=$(wc -l <"$ng/access.log")
  pass "$(client "$rounds") '$qxweb' update Bench"
  best[update]=$(best_of "${best[update]:-}" "$took")
  cat "$work/out"
  read -r bytes requests bad < <(served_since "$logged")
  if ((bad > 0)); then echo "install_bench: $bad failed requests in the update" >&2; exit 1; fi
  if ((bytes > update_fetched)); then update_fetched=$bytes update_requests=$requests; fi
  # The cache the last --launch expanded takes the same change expanded.
  pass "$(client "launch.$rounds") '$qxweb' update Bench"
  best[update_expanded]=$(best_of "${best[update_expanded]:-}" "$took")
done
tar cf - -C "$src" . | gzip -6 >"$serve/tree.tar.gz"
archive_after=$(stat -c %s "$serve/tree.tar.gz")

echo
echo "Corpus: $file_count files, $((tree_bytes / 1048576)) MB; sealed $stored_bytes bytes," \
  "tar.gz $archive_bytes bytes. Best of $rounds rounds."
echo "Seconds, best of each: elapsed, CPU (user+system), and the ratio to curl | tar xzf."
line() { ratio_line "$1" "$2" untar; }
line "qxweb install (fresh cache)" install
line "qxweb install, signed package" signed
line "qxweb install --launch (expanded)" launch
line "curl | tar xzf (fresh directory)" untar
line "qxweb update, 1% of files changed" update
line "qxweb update of an expanded cache" update_expanded
line "qxweb unpack (package on disk)" unpack
ratio_line "tar xzf (archive on disk)" tardisk tardisk
echo "qxweb unpack against tar xzf from disk: $(echo "${best[unpack]%% *} ${best[tardisk]%% *}" |
  awk '{ printf "%.2f", $1 / $2 }')"
echo "$(nproc) processors. Peak memory (max RSS): qxweb install ${rss_of[install]} kB," \
  "signed ${rss_of[signed]} kB, with --launch ${rss_of[launch]} kB"
echo "Elapsed of each round: install${each[install]}; signed${each[signed]};" \
  "--launch${each[launch]};" \
  "curl | tar${each[untar]}"
echo "Install took $install_fetched bytes in $install_requests requests" \
  "($install_bad failed); the archive is $archive_bytes bytes."
echo "Update, ${#changed[@]} files changed: at most $update_fetched bytes in $update_requests" \
  "requests, $(echo "$update_fetched $archive_after" | awk '{ printf "%.2f", 100 * $1 / $2 }')%" \
  "of the $archive_after bytes curl | tar would fetch again."
rm -rf "$work"/inst.* "$work"/untar.* "$work"/untar-disk.* "$work"/unpack.*
