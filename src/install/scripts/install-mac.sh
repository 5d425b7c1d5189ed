#!/bin/bash
# The macOS install script. Each @…@ placeholder is replaced by its value, shell-quoted where
# it is text, when the script is made, and the line sourcing own-copy.sh by that file's text.
# USER_ID comes from the environment the script is run with.
set -euo pipefail
APP=@APP@
ZIP=@ZIP@
SHA512=@SHA512@
SIZE=@SIZE@
# The command line of a copy started from APP, and nothing else.
RUNNING=@RUNNING@
WORK_PARENT=/tmp
OWN_COPY=yes

digest() { /usr/bin/shasum -a 512 "$1"; }
unpack() { /usr/bin/ditto -x -k "$1" "$2"; }
# shellcheck source=src/install/scripts/own-copy.sh
. own-copy.sh

# A translocated copy is read-only; the running process must exit first. The script names the
# product on purpose: the process to stop and the backup, whatever the bundle is called.
/usr/bin/osascript -e 'tell application "Quillmere Desktop" to quit' >/dev/null 2>&1 || true
sleep 2
/usr/bin/pkill -U "$USER_ID" -f "$RUNNING" >/dev/null 2>&1 || true
sleep 1

if [ -d "$APP" ]; then
  BACKUP="$HOME/.Trash/Quillmere Desktop.$(date +%Y%m%d%H%M%S).app"
  /bin/mv "$APP" "$BACKUP"
fi

if ! /usr/bin/ditto "$STAGED" "$APP"; then
  # A failed copy must not leave the user without the app: the previous one comes back.
  if [ -d "$APP" ] && [ ! -L "$APP" ]; then /bin/rm -rf "$APP"; fi
  if [ -n "${BACKUP:-}" ]; then /bin/mv "$BACKUP" "$APP"; fi
  exit 1
fi
# The user's, as a dragged-in application is: its own updater replaces it as the user.
chown -R -h "$USER_ID" "$APP"

# Without this the app runs translocated from a read-only copy and Squirrel
# can never replace it, so in-app updates would fail forever.
/usr/bin/xattr -dr com.apple.quarantine "$APP" 2>/dev/null || true
