#!/usr/bin/env bash
# Installs the Debian packages of the given lists that this machine lacks (needs root or sudo).
# Without arguments: the demo's list and the tests' list (tools/packages-demo.txt, tools/packages.txt).
# Does nothing, and needs no network, when everything is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$@")
[[ ${#lists[@]} -eq 0 ]] && lists=("$here/packages-demo.txt" "$here/packages.txt")
# A name counts as there when a package of it is installed, or an installed package provides it
# (nodejs from NodeSource provides npm, and conflicts with Debian's npm package).
provided=$(dpkg-query -W -f='${Status}|${Provides}\n' 2>/dev/null | grep "^install ok installed|" | cut -d'|' -f2 |
  tr ',' '\n' | sed 's/^ *//; s/[ (].*//' | sort -u)
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" || grep -qx "$1" <<< "$provided"
}
missing=()
for list in "${lists[@]}"; do
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    installed "$pkg" || missing+=("$pkg")
  done < "$list"
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
