# shellcheck shell=bash
# The root side's first steps, on both platforms, put in by the script that sources it, which
# sets every variable used here and defines digest (the hexadecimal SHA-512 of a file) and
# unpack (a zip into a folder). Where the script has only the user's own rights, OWN_COPY is
# "no" and STAGED the bundle the installer checked.

# Whoever runs this with more rights than the user touches nothing the user could have changed
# since the installer's checks: the package is copied into a folder of its own (no more than the
# downloaded size), checked against the digest taken as it was downloaded, and unpacked there.
if [ "$OWN_COPY" = yes ]; then
  umask 022
  WORK=$(/usr/bin/mktemp -d "$WORK_PARENT/.quillmere-install.XXXXXXXX")
  trap '/bin/rm -rf -- "$WORK"' EXIT
  /usr/bin/head -c "$((SIZE + 1))" -- "$ZIP" >"$WORK/package.zip"
  DIGEST=$(digest "$WORK/package.zip")
  if [ "${DIGEST%% *}" != "$SHA512" ]; then
    printf '%s\n' @MISMATCH_MESSAGE@ >&2
    exit 1
  fi
  /bin/mkdir "$WORK/stage"
  unpack "$WORK/package.zip" "$WORK/stage"
  /usr/bin/find "$WORK/stage" ! -type l -exec /bin/chmod ug-s,go-w {} +
  # shellcheck disable=SC2034 # the sourcing script installs it
  STAGED="$WORK/stage/Quillmere Desktop.app"
fi
