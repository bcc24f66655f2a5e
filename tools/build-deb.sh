#!/usr/bin/env bash
# Builds the Debian package velmora from this tree into build-deb/ (velmora_VERSION_ARCH.deb and
# its .buildinfo and .changes). The tree is copied to build-deb/src first, so debian/rules never
# writes into the working tree; ccache, when installed, keeps a rebuild quick.
#
#   tools/build-deb.sh [--lintian]
#
# --lintian  runs lintian on the package afterwards; its findings end the script with an error
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-deb
run_lintian=no
[[ "${1:-}" == "--lintian" ]] && run_lintian=yes

rm -rf "$out/src" "$out"/velmora_*
mkdir -p "$out/src"
tar -C "$root" --exclude-vcs --exclude='./build*' --exclude='./obj-*' --exclude='./debian/velmora' \
  --exclude='./debian/.debhelper' -cf - . | tar -C "$out/src" -xf -
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$out/src}
export DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)"
start=$(date +%s)
(cd "$out/src" && dpkg-buildpackage -b -us -uc > "$out/build.log" 2>&1) || { tail -n 40 "$out/build.log"; exit 1; }
deb=$(ls "$out"/velmora_*.deb)
echo "built $deb in $(( $(date +%s) - start )) s"
if [[ $run_lintian == yes ]]; then
  lintian --fail-on error,warning --info "$deb"
fi
