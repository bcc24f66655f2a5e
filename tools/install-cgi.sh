#!/usr/bin/env bash
# Puts velmora built from this tree into a site folder: the stripped program with its TLS module,
# then `velmora-ini site create` lays out the site as it does from the package (settings file,
# sample allowed list, Log for the web server's account). Files already there are kept.
#
#   tools/install-cgi.sh [--build DIR] [--user NAME] CGI_FOLDER [FIELD=VALUE...]
#
# --build DIR  a build folder that already holds app/velmora, net/velmora-tls.so and
#              tools/velmora-ini (default: build them in build-install, without tests and benchmarks)
# --user NAME  the account the web server runs CGI programs as (www-data on Debian): it gets the
#              settings file and the log folder, which velmora writes on every request
# FIELD=VALUE  settings for a new settings file, or changes to an existing one (see velmora-ini)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="" folder=""
site_args=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --user) site_args+=(--user "$2"); shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *=*) site_args+=("$1"); shift ;;
    *) [[ -z "$folder" ]] || { echo "install-cgi: one CGI folder only" >&2; exit 2; }; folder=$1; shift ;;
  esac
done
[[ -n "$folder" ]] || { echo "usage: tools/install-cgi.sh [--build DIR] [--user NAME] CGI_FOLDER [FIELD=VALUE...]" >&2; exit 2; }

if [[ -z "$build" ]]; then
  build=$root/build-install
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF \
    -DVELMORA_BENCH=OFF > /dev/null
  cmake --build "$build" --target velmora velmora_tls velmora-ini > /dev/null
fi
[[ -x "$build/app/velmora" && -f "$build/net/velmora-tls.so" && -x "$build/tools/velmora-ini" ]] || { echo "install-cgi: no velmora in $build" >&2; exit 1; }

# Stripped copies side by side, as the package holds them, for site create to place.
staged=$(mktemp -d)
trap 'rm -rf "$staged"' EXIT
install -m 0755 -s "$build/app/velmora" "$staged/velmora"
install -m 0644 -s "$build/net/velmora-tls.so" "$staged/velmora-tls.so"
mkdir -p "$folder"
"$build/tools/velmora-ini" site create "$(cd "$folder" && pwd)" --program "$staged/velmora" "${site_args[@]}"
