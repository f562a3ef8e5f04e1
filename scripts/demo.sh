#!/usr/bin/env bash
# Builds qxweb and runs the main job: seals the sample application under
# examples/ into a package in the build directory, verifies it as a client
# would, then serves it over HTTP and installs it from there into a
# client's cache and launches it.
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

# The client's side: the package fetched from a web server into a cache,
# listed and launched. The demo keeps the client's settings and cache under
# build/demo/client, away from the user's own, and serves the put-to
# directory with nginx on a free local port; any static web server will do.
export XDG_CONFIG_HOME=$work/client/config XDG_DATA_HOME=$work/client/data
web=$work/web
mkdir -p "$web"
port=18080
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
user=
[ "$(id -u)" -eq 0 ] && user="user root;"
cat >"$web/nginx.conf" <<EOF
$user
daemon off;
pid nginx.pid;
events {}
http {
  access_log access.log;
  client_body_temp_path body; proxy_temp_path proxy; fastcgi_temp_path fastcgi;
  uwsgi_temp_path uwsgi; scgi_temp_path scgi;
  server { listen 127.0.0.1:$port; root $package; }
}
EOF
/usr/sbin/nginx -p "$web" -c nginx.conf -e error.log &
server=$!
trap 'kill $server 2>/dev/null' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
"$qxweb" install "http://127.0.0.1:$port/Demo.htm" --launch
"$qxweb" cache list
