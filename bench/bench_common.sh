# Sourced by the benchmark scripts: builds the release preset, writes the
# deterministic corpus once (again only when its generator changed), and
# defines what the scripts share. QX_BENCH_DIR holds the corpus and the
# scratch outputs (default: $TMPDIR/qxweb-bench, about 1.5 GB);
# QX_BENCH_ROUNDS sets the rounds (default 3); QX_BENCH_QXWEB names another
# qxweb program to measure.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
work=${QX_BENCH_DIR:-${TMPDIR:-/tmp}/qxweb-bench}
rounds=${QX_BENCH_ROUNDS:-3}

# GNU time reports the peak memory of a child (pigz, a peer, comes with the set-up).
bash scripts/setup.sh
if [ ! -x /usr/bin/time ]; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get install -y -q --no-install-recommends time >/dev/null
fi

cmake --workflow --preset release >/dev/null
gen=$root/build/release/bench/qx_corpus_gen
qxweb=${QX_BENCH_QXWEB:-$root/build/release/tools/qxweb/qxweb}

corpus=$work/corpus
stamp=$corpus/.made-by-$(sha1sum bench/corpus_gen.cpp | cut -c1-12)
if [ ! -f "$stamp" ]; then
  rm -rf "$corpus"
  mkdir -p "$corpus"
  "$gen" "$corpus"
  touch "$stamp"
fi
tree=$corpus/tree
single=$corpus/single.bin

# Keeps the smaller elapsed and the smaller CPU time of two "elapsed cpu" pairs.
best_of() {
  if [ -z "$1" ]; then
    echo "$2"
    return
  fi
  echo "$1 $2" | awk '{ printf "%s %s", ($3 < $1 ? $3 : $1), ($4 < $2 ? $4 : $2) }'
}

# Prints the title $1 with the best "elapsed cpu" of ${best[$2]} and their
# ratios to those of ${best[$3]} (best: the caller's associative array).
ratio_line() {
  echo "${best[$2]} ${best[$3]}" | awk -v title="$1" '{ printf "%-34s %7.2f %7.2f   %6.3f %6.3f\n",
    title, $1, $2, $1 / $3, $2 / $4 }'
}
