#!/usr/bin/env bash
# Builds qxweb and runs the main job: seals the sample application under
# examples/ into a package in the build directory, verifies it as a client
# would, then installs it into a client's cache and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --workflow --preset release >/dev/null
qxweb=$PWD/build/release/tools/qxweb/qxweb
work=$PWD/build/demo
project=$work/demo.QXS
package=$work/package

# The project keeps absolute directories, so it is made afresh for this checkout.
mkdir -p "$work"
"$qxweb" new "$project" --force --name Demo --command-line "bin/planner" \
  --owner "Demo Works" --install-to "apps/demo" \
  --seal-from "$PWD/examples/demo/app" --put-to "$package"
"$qxweb" seal --scan --create-put-to --save --verbose "$project"
"$qxweb" verify "$package/Demo.qxw"
echo "Package: $package (header Demo.qxw, landing page Demo.htm)"

# The client's side: the package taken into a cache, listed and launched. The
# demo keeps the client's settings and cache under build/demo/client, away
# from the user's own.
export XDG_CONFIG_HOME=$work/client/config XDG_DATA_HOME=$work/client/data
"$qxweb" cache install "$package/Demo.qxw"
"$qxweb" cache list
"$qxweb" cache launch Demo
