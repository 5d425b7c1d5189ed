#!/bin/bash
# The Linux install script. Each @…@ placeholder is replaced by its value, shell-quoted where
# it is text, when the script is made, and the line sourcing own-copy.sh by that file's text.
# USER_ID comes from the environment the script is run with.
set -euo pipefail
APP=@APP@
ZIP=@ZIP@
SHA512=@SHA512@
SIZE=@SIZE@
# The command line of a copy started from APP, and nothing else.
RUNNING=@RUNNING@
TRASH=@TRASH@
# The install path as the Trash's info file records it.
TRASH_PATH=@TRASH_PATH@
GROUP_ID=@GROUP_ID@
# The bundle the installer checked, in the user's stage directory.
CHECKED=@CHECKED@
# What the new copy is started with, each NAME=value quoted.
APP_ENV=(@APP_ENV@)
EXECUTABLE="$APP/Contents/MacOS/Quillmere Desktop"

# Run as root for another user, whatever goes into the user's Trash is made as that user, and
# the new copy is started as that user: never with the administrator's rights.
if [ "$(/usr/bin/id -u)" = "$USER_ID" ]; then
  AS_USER=()
else
  AS_USER=(/usr/bin/setpriv --reuid="$USER_ID" --regid="$GROUP_ID" --init-groups --)
fi

# A fresh install may find no install folder yet: it is made as the user where the user may
# make it, otherwise with the rights this script runs with.
FOLDER=$(/usr/bin/dirname -- "$APP")
if [ ! -d "$FOLDER" ]; then
  "${AS_USER[@]}" /bin/mkdir -p -- "$FOLDER" 2>/dev/null || /bin/mkdir -p -- "$FOLDER"
fi
# With the user's own rights (no password was asked, or the user is root), the script can do
# nothing the user could not: the bundle the installer checked is installed as it is. With more,
# the package is unpacked beside the install path, so that installing it is a rename, where no
# one but this script's user may write; otherwise in /tmp, and copied.
OWN_COPY=yes
if [ ${#AS_USER[@]} -eq 0 ]; then
  OWN_COPY=no
  STAGED=$CHECKED
  INSTALL=(/bin/mv -T)
elif ! "${AS_USER[@]}" /usr/bin/test -w "$FOLDER"; then
  WORK_PARENT=$FOLDER
  INSTALL=(/bin/mv -T)
else
  WORK_PARENT=/tmp
  INSTALL=(/bin/cp -a -T)
fi

digest() { /usr/bin/openssl dgst -sha512 -r "$1"; }
# bsdtar as the installer's own extraction: the archive's owners and set-id bits dropped even as
# root, modes through the umask, no entry outside the folder or through a link.
unpack() { /usr/bin/bsdtar -x --no-same-owner --no-same-permissions -f "$1" -C "$2"; }
# shellcheck source=src/install/scripts/own-copy.sh
. own-copy.sh

# The user's running copy must exit first; it gets 3 seconds.
/usr/bin/pkill -U "$USER_ID" -f -- "$RUNNING" >/dev/null 2>&1 || true
for _ in {1..30}; do
  /usr/bin/pgrep -U "$USER_ID" -f -- "$RUNNING" >/dev/null 2>&1 || break
  /bin/sleep 0.1
done

# The previous copy goes to the Trash under a time-stamped name. Its info file comes first and
# claims the name (it is created only if it does not exist yet), so the Trash never holds a
# copy it cannot put back.
taken() { [ -e "$1" ] || [ -L "$1" ]; }
BACKUP=
INFO=
if [ -d "$APP" ]; then
  "${AS_USER[@]}" /bin/mkdir -p -m 700 -- "$TRASH" "$TRASH/files" "$TRASH/info"
  STAMP=$(/bin/date +%Y%m%d%H%M%S)
  # shellcheck disable=SC2310 # taken's failure is its answer
  while taken "$TRASH/files/Quillmere Desktop.$STAMP.app" ||
      taken "$TRASH/info/Quillmere Desktop.$STAMP.app.trashinfo"; do
    /bin/sleep 1
    STAMP=$(/bin/date +%Y%m%d%H%M%S)
  done
  BACKUP="$TRASH/files/Quillmere Desktop.$STAMP.app"
  INFO="$TRASH/info/Quillmere Desktop.$STAMP.app.trashinfo"
  DELETED="${STAMP:0:4}-${STAMP:4:2}-${STAMP:6:2}T${STAMP:8:2}:${STAMP:10:2}:${STAMP:12:2}"
  # shellcheck disable=SC2016 # the inner shell expands its own $1
  printf '[Trash Info]\nPath=%s\nDeletionDate=%s\n' "$TRASH_PATH" "$DELETED" |
    "${AS_USER[@]}" /bin/bash -c 'set -o noclobber; /bin/cat >"$1"' bash "$INFO"
  if ! /bin/mv -T -- "$APP" "$BACKUP"; then
    "${AS_USER[@]}" /bin/rm -f -- "$INFO"
    exit 1
  fi
fi

# A failed copy must not leave the user without the app: the half-made copy goes and the
# previous one comes back out of the Trash. (A directory at APP can only be cp's own here.)
if ! "${INSTALL[@]}" -- "$STAGED" "$APP"; then
  if [ -d "$APP" ] && [ ! -L "$APP" ]; then /bin/rm -rf -- "$APP"; fi
  if [ -n "$BACKUP" ]; then
    /bin/mv -T -- "$BACKUP" "$APP"
    "${AS_USER[@]}" /bin/rm -f -- "$INFO"
  fi
  exit 1
fi

# Started as the user in a session of its own, with the user's desktop session and nothing of
# this script's output: whoever runs the script reads that to its end, and the app would hold
# it open.
if [ ! -f "$EXECUTABLE" ] || ! "${AS_USER[@]}" /usr/bin/test -x "$EXECUTABLE"; then
  printf '%s\n' @NOT_RUNNABLE_MESSAGE@ >&2
  exit 1
fi
/usr/bin/env -i "${APP_ENV[@]}" /usr/bin/setsid -f "${AS_USER[@]}" "$EXECUTABLE" \
  </dev/null >/dev/null 2>&1
