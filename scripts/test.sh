#!/usr/bin/env bash
# Builds and runs the whole test suite: the dev build (warnings as errors),
# the formatting check, and the suite again under the sanitizers.
# --quick skips the sanitizer run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

quick=0
[ "${1:-}" = "--quick" ] && quick=1

cmake --workflow --preset dev
cmake --build --preset dev --target format-check
if [ $quick -eq 0 ]; then
  cmake --workflow --preset asan
fi
