#!/usr/bin/env bash
# Builds the Debian packages with scripts/package.sh and checks what each one
# holds, its control fields and its linkage, and that lintian finds no error.
#
#   debian_packages_test.sh SOURCE_DIR BUILD_DIR VERSION
#
# BUILD_DIR is package.sh's build tree, kept between runs so that a second
# run is incremental. Exits 77 (skipped) when the Debian tools are missing.
set -uo pipefail
source_dir=$1
build=$2
version=$3

for tool in cmake cpack dpkg-deb dpkg-shlibdeps readelf nm; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out=$scratch/packages
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! bash "$source_dir/scripts/package.sh" "$out" "$build" >"$scratch/package.log" 2>&1; then
  cat "$scratch/package.log"
  fail "scripts/package.sh failed"
  exit 1
fi
# lintian's findings, printed by package.sh: no error may be among them.
if grep -E '^E: ' "$scratch/package.log"; then
  fail "lintian reports errors"
fi

# The packages expected: the client's window only where the tree builds it.
packages=(libqxwebcore1 libqxwebcore-dev qxweb qxsealer-lite)
[ -x "$build/client_ui/qxweb-client" ] && packages+=(qxweb-client)
arch=$(dpkg --print-architecture)
shopt -s nullglob
built=("$out"/*.deb)
if [ ${#built[@]} -ne ${#packages[@]} ]; then
  fail "expected ${#packages[@]} packages, got ${#built[@]}: ${built[*]}"
fi

# What each package holds: "need" paths must be there, and every file or link
# in the package must match a "need" or an "allow" line of that package.
# Paths are extended regular expressions over the path in the package,
# anchored at both ends; LIB is the multiarch library directory.
rules=$(
  cat <<'EOF'
libqxwebcore1     need   LIB/libqxwebcore\.so\.VERSION
libqxwebcore1     need   LIB/libqxwebcore\.so\.1
libqxwebcore-dev  need   LIB/libqxwebcore\.so
libqxwebcore-dev  need   usr/include/qxwebcore/core/format/header_reader\.h
libqxwebcore-dev  need   usr/include/qxwebcore/qxwebcore_export\.h
libqxwebcore-dev  allow  usr/include/qxwebcore/core/[a-z0-9_]+/[a-z0-9_]+\.h
libqxwebcore-dev  need   LIB/cmake/qxwebcore/qxwebcoreConfig\.cmake
libqxwebcore-dev  need   LIB/cmake/qxwebcore/qxwebcoreConfigVersion\.cmake
libqxwebcore-dev  need   LIB/cmake/qxwebcore/qxwebcoreTargets\.cmake
libqxwebcore-dev  need   LIB/cmake/qxwebcore/qxwebcoreTargets-release\.cmake
libqxwebcore-dev  need   LIB/pkgconfig/qxwebcore\.pc
qxweb             need   usr/bin/qxweb
qxweb             need   usr/libexec/qxweb/qxweb-net
qxweb             need   usr/share/man/man1/qxweb\.1\.gz
qxweb             need   usr/share/bash-completion/completions/qxweb
qxsealer-lite     need   usr/bin/qxsealer-lite
qxsealer-lite     need   usr/share/applications/qxsealer-lite\.desktop
qxsealer-lite     need   usr/share/mime/packages/qxsealer-lite-project\.xml
qxsealer-lite     need   usr/share/icons/hicolor/scalable/apps/qxsealer-lite\.svg
qxsealer-lite     need   usr/share/icons/hicolor/48x48/apps/qxsealer-lite\.png
qxsealer-lite     allow  usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/qxsealer-lite\.png
qxsealer-lite     need   usr/share/man/man1/qxsealer-lite\.1\.gz
qxweb-client      need   usr/bin/qxweb-client
qxweb-client      need   usr/share/applications/qxweb-client\.desktop
qxweb-client      need   usr/share/icons/hicolor/scalable/apps/qxweb-client\.svg
qxweb-client      allow  usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/qxweb-client\.png
qxweb-client      need   usr/share/man/man1/qxweb-client\.1\.gz
EOF
)

for pkg in "${packages[@]}"; do
  deb=$(echo "$out/${pkg}_${version}_${arch}.deb")
  if [ ! -f "$deb" ]; then
    fail "$pkg: no package $deb"
    continue
  fi
  root=$scratch/root/$pkg
  mkdir -p "$root"
  dpkg-deb -x "$deb" "$root"
  (cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$scratch/$pkg.files"
  lib=$(cd "$root" && find usr/lib -mindepth 1 -maxdepth 1 -type d -name '*-*' -print -quit 2>/dev/null)

  # Every package carries its copyright file and changelog.
  patterns=("usr/share/doc/$pkg/copyright" "usr/share/doc/$pkg/changelog\.gz")
  needs=("${patterns[@]}")
  while read -r rule_pkg kind path; do
    [ "$rule_pkg" = "$pkg" ] || continue
    path=${path//LIB/${lib:-usr/lib/NONE}}
    path=${path//VERSION/${version//./\\.}}
    patterns+=("$path")
    [ "$kind" = need ] && needs+=("$path")
  done <<<"$rules"
  for need in "${needs[@]}"; do
    grep -Eqx "$need" "$scratch/$pkg.files" || fail "$pkg lacks $need"
  done
  while read -r file; do
    matched=0
    for pattern in "${patterns[@]}"; do
      if [[ $file =~ ^${pattern}$ ]]; then
        matched=1
        break
      fi
    done
    [ $matched -eq 1 ] || fail "$pkg holds $file, which it should not"
  done <"$scratch/$pkg.files"

  # Nothing refers to the tree it was built in.
  if leaked=$(grep -rlF "$build" "$root"); then
    fail "$pkg: files name the build directory: $leaked"
  fi
  # Programs and libraries are stripped; compressed files carry no name or
  # time stamp (gzip -n), so that rebuilding gives the same bytes.
  while read -r file; do
    path=$root/$file
    [ -L "$path" ] && continue
    if [ "$(head -c 4 "$path" | od -An -tx1 | tr -d ' ')" = 7f454c46 ]; then
      readelf -S "$path" | grep -q '\.symtab' && fail "$pkg: $file is not stripped"
    fi
    if [[ $file == *.gz ]]; then
      header=$(head -c 8 "$path" | od -An -tx1 | tr -d ' \n')
      [ "${header:0:4}" = 1f8b ] || fail "$pkg: $file is not gzip"
      [ $((0x${header:6:2} & 0x08)) -eq 0 ] || fail "$pkg: $file records a file name"
      [ "${header:8:8}" = 00000000 ] || fail "$pkg: $file records a time stamp"
    fi
  done <"$scratch/$pkg.files"

  for entry in $(grep -E '\.desktop$' "$scratch/$pkg.files"); do
    if command -v desktop-file-validate >/dev/null 2>&1; then
      desktop-file-validate "$root/$entry" || fail "$pkg: $entry does not validate"
    fi
  done
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$pkg: version is not $version"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$pkg: architecture is not $arch"
done

# Control fields: dependencies computed from the binaries, and the exact
# dependency of the development files on the library.
depends() { dpkg-deb -f "$out/${1}_${version}_${arch}.deb" Depends 2>/dev/null; }
depends qxweb | grep -Eq '(^|, )libc6( |,|$)' || fail "qxweb does not depend on libc6: $(depends qxweb)"
depends qxweb | grep -Eq '(^|, )zlib1g( |,|$)' || fail "qxweb does not depend on zlib1g"
depends qxweb | grep -Eq '(^|, )libssl3( |,|$)' || fail "qxweb does not depend on libssl3"
depends libqxwebcore-dev | grep -Fq "libqxwebcore1 (= $version)" ||
  fail "libqxwebcore-dev does not depend on libqxwebcore1 (= $version): $(depends libqxwebcore-dev)"
depends libqxwebcore1 | grep -Eq '(^|, )libc6( |,|$)' || fail "libqxwebcore1 does not depend on libc6"
depends qxsealer-lite | grep -Eq 'libqt6widgets6' || fail "qxsealer-lite does not depend on Qt"
if [ -f "$out/qxweb-client_${version}_${arch}.deb" ]; then
  depends qxweb-client | grep -Fq "qxweb (= $version)" || fail "qxweb-client does not depend on qxweb"
fi
# The library declares its SONAME and has ldconfig run.
info=$scratch/libinfo
mkdir -p "$info"
dpkg-deb -e "$out/libqxwebcore1_${version}_${arch}.deb" "$info"
grep -Eq "^libqxwebcore 1 libqxwebcore1 \(>= $version\)$" "$info/shlibs" 2>/dev/null ||
  fail "libqxwebcore1's shlibs file does not declare libqxwebcore.so.1"
grep -q ldconfig "$info/triggers" 2>/dev/null || fail "libqxwebcore1 does not trigger ldconfig"
library=("$scratch"/root/libqxwebcore1/usr/lib/*/libqxwebcore.so.1)
soname=$([ -e "${library[0]}" ] && readelf -d "${library[0]}" | grep SONAME)
[[ $soname == *"[libqxwebcore.so.1]"* ]] || fail "the library's SONAME is not libqxwebcore.so.1: $soname"

# qxweb uses the system's zlib, libdeflate and libcrypto rather than copies
# of its own, so that their security updates reach it.
qxweb_bin=$scratch/root/qxweb/usr/bin/qxweb
needed=$([ -e "$qxweb_bin" ] && readelf -d "$qxweb_bin" | grep NEEDED)
for lib in libz.so libdeflate.so libcrypto.so; do
  [[ $needed == *"[$lib"* ]] || fail "qxweb does not load $lib"
done
defined=$([ -e "$qxweb_bin" ] && nm -D --defined-only "$qxweb_bin" | awk '{print $3}')
for symbol in deflate inflate EVP_DigestInit_ex libdeflate_alloc_compressor; do
  grep -qx "$symbol" <<<"$defined" && fail "qxweb carries its own $symbol"
done

# Every install() rule names a component: the default one installs nothing.
cmake --install "$build" --component Unspecified --prefix "$scratch/unspecified" >/dev/null
if [ -d "$scratch/unspecified" ] && [ -n "$(find "$scratch/unspecified" -type f -o -type l)" ]; then
  fail "install() rules without a component: $(find "$scratch/unspecified" -type f -o -type l)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "All packages hold what they should"
