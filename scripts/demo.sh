#!/usr/bin/env bash
# Builds qxweb and runs the main job on the sample application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --workflow --preset release >/dev/null
qxweb=build/release/tools/qxweb/qxweb
sample=examples/demo/app

echo "Secure digests of the sample application (key: Demo):"
find "$sample" -type f -print0 | sort -z | xargs -0 "$qxweb" digest --key Demo
