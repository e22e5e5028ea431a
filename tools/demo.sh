#!/usr/bin/env bash
# The davfp demo, run by `./run demo`: a drive served by the stand-in host application, used from the davfp
# command line the whole way: a cold start that launches the host application, browsing, opening files,
# writing back, and a change made on the server side. Everything lives in a private home under the build
# tree; nothing outside it is touched, and every process the demo starts is stopped at the end.
# Usage: tools/demo.sh BUILD_DIR
set -uo pipefail

build=$(cd "${1:?usage: tools/demo.sh BUILD_DIR}" && pwd)
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly davfp_bin=$build/src/host/davfp
readonly host_bin=$top/tools/host-app/davfp-host
readonly demo=$build/demo
# Paths below are relative to the demo folder, where the demo works.
readonly served="Demo Drive"
readonly local=local
[ -x "$davfp_bin" ] || { echo "demo: $davfp_bin is missing; build first (./run build)" >&2; exit 1; }

# --- A private home --------------------------------------------------------------------------------------
export HOME=$demo/home
export XDG_DATA_HOME=$HOME/.local/share XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state
export XDG_CACHE_HOME=$HOME/.cache XDG_DATA_DIRS=/usr/local/share:/usr/share TMPDIR=$demo/tmp
unset DAVFP_DOMAIN XDG_RUNTIME_DIR
# A host application left running by an interrupted earlier demo goes first.
[ -d "$HOME" ] && "$host_bin" stop >/dev/null 2>&1
rm -rf "$demo"
mkdir -p "$HOME" "$TMPDIR" "$demo" && cd "$demo" && mkdir -p "$served" "$local" || exit 1

if [ -t 1 ]; then bold=$'\033[1m' dim=$'\033[2m' plain=$'\033[0m'; else bold="" dim="" plain=""; fi
failures=0
watcher=""

# The programs as a person would call them once they are on the PATH.
davfp() { "$davfp_bin" "$@"; }
davfp-host() { "$host_bin" "$@"; }

cleanup() {
  [ -z "$watcher" ] || { kill -TERM "$watcher" 2>/dev/null; wait "$watcher" 2>/dev/null; }
  [ "$(findmnt -rn -M "$demo/Drive" -o FSTYPE 2>/dev/null)" = fuse.davfp ] && "$davfp_bin" unmount "$demo/Drive" >/dev/null 2>&1
  "$host_bin" stop >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }
say() { printf '%s%s%s\n' "$dim" "$*" "$plain"; }

# Shows a command as it would be typed, runs it, and notes a failure without stopping the demo.
quote() {
  local arg out=""
  for arg in "$@"; do
    if [[ $arg =~ ^[A-Za-z0-9_./:=@%+-]+$ ]]; then out+=" $arg"; else out+=" '${arg//\'/\'\\\'\'}'"; fi
  done
  printf '%s' "${out# }"
}
run() {
  printf '%s$ %s%s\n' "$bold" "$(quote "$@")" "$plain"
  "$@"
  local status=$?
  if ((status != 0)); then
    printf '%s   (exit status %d)%s\n' "$bold" "$status" "$plain"
    failures=$((failures + 1))
  fi
  return 0
}

# A command that must be refused: its failure is the point.
refused() {
  printf '%s$ %s%s\n' "$bold" "$(quote "$@")" "$plain"
  if "$@"; then
    printf '%s   (accepted, but should have been refused)%s\n' "$bold" "$plain"
    failures=$((failures + 1))
  fi
}

# The drive URL with its password hidden.
masked() { sed -E 's#(://[^:/@]*):[^@/]*@#\1:***@#g'; }

# --- Sample files ------------------------------------------------------------------------------------------
mkdir -p "$served/Documents/Notes" "$served/Fotos Sommer 2024" "$served/Videos"
printf 'Quarterly report\n================\nAll figures are fine.\n' >"$served/Documents/Report 2024.txt"
printf '# Ideas\n- a drive on the command line\n' >"$served/Documents/Notes/ideas.md"
printf 'Grüße aus Köln!\n' >"$served/Fotos Sommer 2024/Grüße.txt"
printf 'menu du café\n' >"$served/Fotos Sommer 2024/Café crème.txt"
head -c $((4 * 1024 * 1024)) /dev/urandom >"$served/Videos/holiday clip.bin"

step "The host application and its drive"
say "Working in $demo, with a private home in it."
say "The folder to serve: $served"
run davfp-host add demo "$served" --name "Demo Drive"
run davfp-host install
say "drives.json is not there yet: nothing publishes the drive."
run ls -A "home/.local/share/org.davfp.shared/"

step "Cold start: davfp finds no server, the engine starts the host application and waits for the drive"
started=$(date +%s%N)
run davfp --domain demo ls
say "(found in $((($(date +%s%N) - started) / 1000000)) ms)"
say "The host application now serves the folder with rclone and publishes it:"
masked <"home/.local/share/org.davfp.shared/drives.json"
say "It is the only drive published, so the commands below need no --domain."

step "The drive as a folder"
if [ "$(id -u)" != 0 ] || [ ! -w /dev/fuse ] || ! command -v fusermount3 >/dev/null; then
  say "Skipped: mounting needs /dev/fuse and fusermount3 (Debian package fuse3), and here root."
else
  mkdir -p Drive
  run davfp mount Drive --poll 2
  say "Every program can use it now. Listing fetches nothing; a file's contents come when it is opened."
  run ls -l Drive Drive/Documents
  run cat "Drive/Documents/Report 2024.txt"
  say "An editor's save: the new version written beside the old one, then renamed over it."
  printf 'Quarterly report\n================\nAll figures are fine. Saved from an editor.\n' >"Drive/Documents/.Report.swp"
  run mv "Drive/Documents/.Report.swp" "Drive/Documents/Report 2024.txt"
  say "A change made on the server's side comes into the folder at the next look (every 2 s here):"
  printf 'made on the server\n' >"$served/Documents/Made on the server.txt"
  run davfp sync-now
  run ls Drive/Documents
  run davfp status
  say "Unmounting sends whatever is still waiting first; the server then has the editor's version:"
  run davfp unmount Drive
  run cat "$served/Documents/Report 2024.txt"
  rm "$served/Documents/Made on the server.txt"
fi

step "Browsing"
run davfp ls -l
run davfp ls -l Documents
run davfp ls "Fotos Sommer 2024"
say "The same folder as the platform sees it (JSON items):"
run davfp --json ls "Fotos Sommer 2024"
run davfp tree Documents
run davfp du -h /

step "Opening files"
mkdir -p "$local/downloads"
run davfp cat "Documents/Report 2024.txt"
run davfp get "Videos/holiday clip.bin" "$local/downloads/"
run cmp "$served/Videos/holiday clip.bin" "$local/downloads/holiday clip.bin"
say "4 MiB, byte for byte the same. A whole folder, with its files' dates:"
run davfp get -r Documents "$local/downloads/"
run ls -lR "$local/downloads/Documents"

step "Writing back: create, rename, replace, delete"
printf 'Liebe Zoë,\nbis bald!\n' >"$local/letter.txt"
run davfp mkdir -p "Projekte/Entwürfe"
run davfp put "$local/letter.txt" "Projekte/Entwürfe/"
run davfp mv "Projekte/Entwürfe/letter.txt" "Projekte/Entwürfe/Brief an Zoë.txt"
printf 'Liebe Zoë,\nbis bald, und Grüße an alle!\n' >"$local/letter.txt"
run davfp put "$local/letter.txt" "Projekte/Entwürfe/Brief an Zoë.txt"
run davfp rm "Documents/Notes/ideas.md"
run davfp ls -l "Projekte/Entwürfe"
say "A whole local folder at once (put -r), and a file made from standard input:"
mkdir -p "$local/Rezepte/Kuchen"
printf 'Mehl, Zucker, Eier\n' >"$local/Rezepte/Kuchen/Apfelkuchen.txt"
printf 'Wasser, Tee\n' >"$local/Rezepte/Tee.txt"
run davfp put -r "$local/Rezepte" Projekte
run davfp put - "Projekte/Rezepte/Einkauf.txt" <<<"Einkaufsliste: Äpfel"
run davfp ls -R Projekte/Rezepte
say "On the server side:"
run cat "$served/Projekte/Entwürfe/Brief an Zoë.txt"
run ls -R "$served/Documents"
say "Refused: a move onto a name that is taken, and deleting a folder that is not empty without -r."
refused davfp mv "Documents/Report 2024.txt" "Projekte/Entwürfe/Brief an Zoë.txt"
refused davfp rm Projekte

step "A change made on the server side"
run davfp changes
say "Now, directly in the served folder: a new file, a changed one, and one deleted."
printf 'written on the server\n' >"$served/Documents/From the server.txt"
printf 'Quarterly report\n================\nRevised: all figures are better.\n' >"$served/Documents/Report 2024.txt"
rm "$served/Fotos Sommer 2024/Café crème.txt"
run davfp changes
say "The same for people: davfp watch makes a change pass every few seconds and prints what changed, until"
say "Ctrl-C (here: SIGTERM after a few seconds)."
printf '%s$ davfp watch --interval 1%s\n' "$bold" "$plain"
"$davfp_bin" watch --interval 1 &
watcher=$!
sleep 1.5
printf 'late news\n' >"$served/Documents/Late news.txt"
mv "$served/Fotos Sommer 2024/Grüße.txt" "$served/Fotos Sommer 2024/Grüße aus Köln.txt"
sleep 2.5
kill -TERM "$watcher"
# An interrupted watch ends with 130, as every davfp command does.
wait "$watcher"
status=$?
((status == 130)) || { echo "   (watch ended with status $status)"; failures=$((failures + 1)); }
watcher=""

step "Stopping"
run davfp-host stop
run ls -A "home/.local/share/org.davfp.shared/"
say "Nothing is published now; the next davfp command would start the host application again."

step "Your own WebDAV server"
cat <<EOF
Publish it with the host application, then use davfp with its domain:

  tools/host-app/davfp-host publish mydrive https://dav.example.com/files/me/ --user me
  build/src/host/davfp --domain mydrive ls -l

or serve a folder of yours, and let the engine start the host application when needed:

  tools/host-app/davfp-host add mine ~/Documents --name "My documents"
  tools/host-app/davfp-host install
  build/src/host/davfp --domain mine ls

See README.md, davfp --help and davfp-host --help.
EOF

if ((failures > 0)); then
  printf '\n%sdemo: %d step(s) failed%s\n' "$bold" "$failures" "$plain" >&2
  exit 1
fi
