#!/bin/bash
# Stands in for pkexec in the road test: runs its command as root (the test's set-uid copy of
# setpriv, QUILLMERE_STANDIN_ROOT) without asking. The test's faults, as the macOS stand-in
# osascript has them: QUILLMERE_STANDIN_PROMPT=dismiss answers as a dismissed prompt does (status
# 126); a path there makes that file and waits 2 seconds, as a person would;
# QUILLMERE_STANDIN_BASH_ENV is added as BASH_ENV right after `/usr/bin/env -i`, as if root
# inherited it.
set -euo pipefail
case ${QUILLMERE_STANDIN_PROMPT:-} in
  dismiss)
    echo 'Error executing command as another user: Request dismissed' >&2
    exit 126 ;;
  /*)
    : >"$QUILLMERE_STANDIN_PROMPT"
    /bin/sleep 2 ;;
esac
if [ -n "${QUILLMERE_STANDIN_BASH_ENV:-}" ] && [ "$1 $2" = "/usr/bin/env -i" ]; then
  set -- "$1" "$2" "BASH_ENV=$QUILLMERE_STANDIN_BASH_ENV" "${@:3}"
fi
exec "$QUILLMERE_STANDIN_ROOT" --reuid=0 --regid=0 --clear-groups -- "$@"
