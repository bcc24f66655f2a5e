#!/bin/sh
# Installs the ALTCHA peers the tests and benchmarks talk to (the server library altcha-lib, run
# with node, and the browser widget altcha) from the npm registry into DIR, pinned, once; tests
# running side by side wait for one another's install.
set -eu
dir=${1:?usage: install-altcha-peers.sh DIR}
mkdir -p "$dir"
exec 9>"$dir/.install.lock"
flock 9
if [ ! -f "$dir/node_modules/altcha-lib/package.json" ] || [ ! -f "$dir/node_modules/altcha/package.json" ]; then
    npm install --prefix "$dir" --no-audit --no-fund --loglevel=error altcha-lib@2.8.0 altcha@3.2.2 >&2
fi
