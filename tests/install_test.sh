#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs what was installed:
# --help, a dump on the simulator, the manual page and the completion in
# their usual places.
#   tests/install_test.sh BUILD_DIR
set -uo pipefail
build=$(realpath "$1")
prefix=$(mktemp -d "${TMPDIR:-/tmp}/kartex-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failed=0
check() {
  if "$@"; then echo "ok   $*"; else echo "FAIL $*"; failed=1; fi
}

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; exit 1; }
rm -f "$prefix.log"
tool=$prefix/bin/kartex
check test -x "$tool"
check test -s "$prefix/share/man/man1/kartex.1"
check test -s "$prefix/share/bash-completion/completions/kartex"
check test -x "$prefix/share/kartex/install-udev-rule.sh"
check test -s "$prefix/share/doc/kartex/report-schema.json"

help=$("$tool" --help)
check grep -q -- '--report FILE' <<<"$help"
# The manual page says what --help says: every option --help lists, and the
# data folder the DAT files are read from.
page=$(sed 's/\\-/-/g; s/\\f[BIR]//g' "$prefix/share/man/man1/kartex.1")
options=$(grep -o '^  --[a-z-]*' <<<"$help" | sed 's/^  //')
check test "$(wc -l <<<"$options")" -ge 14
for option in $options; do
  check grep -qF -- "$option" <<<"$page"
done
check grep -qF 'kartex/dat/' <<<"$page"

cd "$prefix" || exit 1
out=$("$tool" --sim fr dump.gba 0 0x1000 2>&1)
status=$?
check test "$status" -eq 0
check grep -q '^0x1000 bytes reading\.$' <<<"$out"
check test "$(stat -c %s dump.gba)" -eq 4096
[ "$failed" -eq 0 ] || echo "$out"
exit $failed
