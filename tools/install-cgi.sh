#!/usr/bin/env bash
# Puts velmora into a web server's CGI folder: the program stripped with its TLS module beside it,
# a settings file made with velmora-ini and a sample allowed list. Files already there (settings,
# allowed list) are kept.
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
build="" user="" folder=""
fields=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --user) user=$2; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *=*) fields+=("$1"); shift ;;
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
ini_tool=$build/tools/velmora-ini
[[ -x "$build/app/velmora" && -f "$build/net/velmora-tls.so" && -x "$ini_tool" ]] || { echo "install-cgi: no velmora in $build" >&2; exit 1; }

mkdir -p "$folder"
# A new file renamed into place: a request running the old program is never cut short.
install -m 0755 -s "$build/app/velmora" "$folder/.velmora.new"
mv -f "$folder/.velmora.new" "$folder/velmora"
# Loaded only by a request that reaches its relay over TLS; not executable, so the server never
# starts it as a CGI program.
install -m 0644 -s "$build/net/velmora-tls.so" "$folder/.velmora-tls.new"
mv -f "$folder/.velmora-tls.new" "$folder/velmora-tls.so"

if [[ -e "$folder/VELMORA.INI" ]]; then
  # The counter and the site's settings stay; only the fields given change.
  [[ ${#fields[@]} -eq 0 ]] || "$ini_tool" set "$folder/VELMORA.INI" "${fields[@]}"
else
  "$ini_tool" create "$folder/VELMORA.INI" "${fields[@]}"
fi
if [[ ! -e "$folder/VELMORA.ALL" ]]; then
  # The stored recipient when there is one, else the demo's sample addresses: edit it.
  mailto=$("$ini_tool" show "$folder/VELMORA.INI" | sed -n 's/^mailto=//p')
  if [[ -n "$mailto" ]]; then echo "$mailto" > "$folder/VELMORA.ALL"
  else cp "$root/tools/demo/VELMORA.ALL" "$folder/VELMORA.ALL"; fi
fi
if [[ -n "$user" ]]; then
  # The log holds visitor addresses and form values: the web server's account and group only.
  install -d -m 0750 "$folder/Log"
  chown "$user" "$folder/VELMORA.INI" "$folder/Log"
fi
echo "velmora installed in $folder"
"$ini_tool" show "$folder/VELMORA.INI"
echo "allowed recipients ($folder/VELMORA.ALL):"
sed 's/^/  /' "$folder/VELMORA.ALL"
