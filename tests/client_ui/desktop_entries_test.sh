#!/bin/sh
# Installs the build into a temporary prefix and checks every desktop entry
# it installs: desktop-file-validate finds nothing to say about it, it names
# a program installed in bin, and its icon is installed as SVG and as PNG at
# 48, 128 and 256 pixels, each PNG of its folder's size. The entries named
# after the prefix must be among them.
#
# desktop_entries_test.sh CMAKE BUILD_DIR WORK_DIR ENTRY...
set -u
cmake=$1 build=$2 work=$3
shift 3
if ! command -v desktop-file-validate >/dev/null 2>&1; then
  echo "desktop-file-validate is not installed"
  exit 77
fi
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
# The width of a PNG file, from its IHDR chunk.
png_width() {
  od -An -tu1 -j16 -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'
}

rm -rf "$work"
prefix=$work/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" >"$work.log" 2>&1; then
  cat "$work.log"
  echo "FAIL: the build does not install"
  exit 1
fi
apps=$prefix/share/applications
for entry in "$@"; do
  [ -f "$apps/$entry" ] || fail "$entry is not installed"
done
count=0
for file in "$apps"/*.desktop; do
  [ -f "$file" ] || continue
  count=$((count + 1))
  name=$(basename "$file")
  said=$(desktop-file-validate "$file" 2>&1) || fail "$name does not validate"
  [ -z "$said" ] || fail "$name: $said"
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
  [ -n "$program" ] && [ -x "$prefix/bin/$program" ] || fail "$name: Exec names $program, not installed in bin"
  try=$(sed -n 's/^TryExec=//p' "$file")
  [ -z "$try" ] || [ "$try" = "$program" ] || fail "$name: TryExec $try is not Exec's $program"
  icon=$(sed -n 's/^Icon=//p' "$file")
  [ -n "$icon" ] || fail "$name has no icon"
  hicolor=$prefix/share/icons/hicolor
  [ -f "$hicolor/scalable/apps/$icon.svg" ] || fail "$name: no scalable icon $icon.svg"
  for size in 48 128 256; do
    png=$hicolor/${size}x${size}/apps/$icon.png
    if [ ! -f "$png" ]; then
      fail "$name: no $icon.png at $size pixels"
    elif [ "$(png_width "$png")" != "$size" ]; then
      fail "$name: $png is $(png_width "$png") pixels wide"
    fi
  done
done
[ "$count" -ge "$#" ] || fail "only $count desktop entries installed"
[ "$failed" -eq 0 ] && echo "$count desktop entries checked"
exit "$failed"
