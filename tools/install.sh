#!/usr/bin/env bash
# Installs a built davfp under a prefix: the programs davfp and davfp-host (bin), the manual page
# (share/man/man1), the bash completion (share/bash-completion/completions) and the host application's desktop
# entry (share/applications), through which the engine starts davfp-host. The manual page and the completion
# are made by the davfp given, from its own command-line definitions.
# Usage: tools/install.sh DAVFP PREFIX   (DAVFP: the built program)
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: tools/install.sh DAVFP PREFIX" >&2; exit 2; }
davfp=$1 prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$davfp" ] || { echo "install: $davfp is not a built davfp; build it first" >&2; exit 1; }

bin=$prefix/bin man=$prefix/share/man/man1
completions=$prefix/share/bash-completion/completions applications=$prefix/share/applications
mkdir -p "$bin" "$man" "$completions" "$applications"
install -m 755 "$davfp" "$bin/davfp"
install -m 755 "$here/host-app/davfp-host" "$bin/davfp-host"
"$davfp" --help-man >"$man/davfp.1.tmp" && mv -f "$man/davfp.1.tmp" "$man/davfp.1"
"$davfp" --help-bash-completion >"$completions/davfp.tmp" &&
  mv -f "$completions/davfp.tmp" "$completions/davfp"
chmod 644 "$man/davfp.1" "$completions/davfp"
# The entry's template goes in first; the installed davfp-host then writes the entry naming itself, quoted
# as a desktop entry needs.
install -m 644 "$here/host-app/org.davfp.host.desktop" "$applications/org.davfp.host.desktop"
XDG_DATA_HOME=$prefix/share "$bin/davfp-host" install
