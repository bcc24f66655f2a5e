#!/bin/sh
# Builds Apache's ISAPI module (mod_isapi) from Debian's apache2 source package, for the tests and
# the benchmark that load velmora's library into a real Apache. Usage: build-mod-isapi.sh OUTDIR
# Prints the path of the built module. Nothing is installed: apt runs on a private folder in OUTDIR
# and the module is kept there, so a second call only prints the path. Fails loudly (exit 1) when
# the source cannot be fetched or built.
set -eu

out=${1:?usage: build-mod-isapi.sh OUTDIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
# Tests run in parallel and each may ask for the module: one builds it, the others wait and reuse it.
exec 9>"$out/.build.lock"
flock 9
module="$out/src/.libs/mod_isapi.so"
if [ -f "$module" ]; then
  echo "$module"
  exit 0
fi

fail() {
  echo "build-mod-isapi: $*" >&2
  exit 1
}

command -v apxs >/dev/null || fail "apxs not found (install apache2-dev)"

# A private apt folder with deb-src entries for the machine's own Debian mirrors and keyring.
apt="$out/apt"
mkdir -p "$apt/sp" "$apt/lists/partial" "$apt/cache/archives/partial" "$out/fetch"
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || fail "no $sources to take the Debian mirrors from"
sed -n 's/^Types:.*/Types: deb-src/; /^\(Types\|URIs\|Suites\|Components\|Signed-By\):/p; /^$/p' \
  "$sources" > "$apt/sp/velmora-src.sources"
aptopts="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$apt/sp -o Dir::State::Lists=$apt/lists -o Dir::Cache=$apt/cache -o Debug::NoLocking=1"

# shellcheck disable=SC2086
apt-get $aptopts -qq update >"$out/apt-update.log" 2>&1 || fail "apt-get update failed: see $out/apt-update.log"
# shellcheck disable=SC2086
(cd "$out/fetch" && apt-get $aptopts -qq source --download-only apache2/bookworm) >"$out/apt-source.log" 2>&1 \
  || fail "apt-get source apache2/bookworm failed: see $out/apt-source.log"

orig=$(ls "$out"/fetch/apache2_*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -n 1)
[ -n "$orig" ] || fail "no apache2 source archive was fetched"
# Only the module's two files are unpacked.
mkdir -p "$out/src"
tar -xf "$orig" -C "$out/src" --wildcards --strip-components=4 \
  '*/modules/arch/win32/mod_isapi.c' '*/modules/arch/win32/mod_isapi.h' \
  || fail "mod_isapi.c/.h not found in $orig"
[ -f "$out/src/mod_isapi.c" ] || fail "mod_isapi.c not unpacked from $orig"

(cd "$out/src" && apxs -c mod_isapi.c) >"$out/apxs.log" 2>&1 || fail "apxs -c mod_isapi.c failed: see $out/apxs.log"
[ -f "$module" ] || fail "apxs left no $module"
echo "$module"
