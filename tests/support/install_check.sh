#!/bin/sh
# cmake --install gives a working bankrip, a manual page that renders
# without warnings, the shell completions and the license. usage: install_check.sh BUILD_DIR
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
"$prefix/bin/bankrip" | grep -q "^Usage : bankrip <fsb_name> \[dest_dir\]" || { echo "FAIL: bin/bankrip"; exit 1; }
page=$prefix/share/man/man1/bankrip.1
[ -f "$page" ] || { echo "FAIL: no share/man/man1/bankrip.1"; exit 1; }
for f in share/bash-completion/completions/bankrip share/zsh/site-functions/_bankrip share/doc/bankrip/LICENSE; do
  [ -s "$prefix/$f" ] || { echo "FAIL: no $f"; exit 1; }
done
command -v man >/dev/null || { echo "man not found: manual page not rendered"; exit 77; }
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "FAIL: $warnings"; exit 1; }
echo "installed bin/bankrip and share/man/man1/bankrip.1"
