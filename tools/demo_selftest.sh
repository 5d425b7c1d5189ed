#!/usr/bin/env bash
# Checks the demo package and what quillmere-publish wrote for it, by other means than the ones
# that wrote them: the digest and size with Python, the archive's entries with bsdtar.
# Prints what failed and exits non-zero; needs zip, bsdtar and python3.
#
#   tools/demo_selftest.sh PUBLISH BUNDLE_ID   (the quillmere-publish to run, and the identifier
#                                              it was built for)
set -euo pipefail
shopt -s inherit_errexit
# shellcheck source-path=SCRIPTDIR source=demo.sh
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/demo.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
publish_demo "$work" 2.0.1 "$2" 1 "$1" >/dev/null
zip="$work/www/updates/$(demo_package_name 2.0.1)"
manifest="$work/www/updates/latest-mac.yml"
failed=0
check() {
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: '$2', expected '$3'" >&2
    failed=1
  fi
}

field() { sed -n "s/^$1 *\\(.*\\)/\\1/p" "$manifest" | head -n1; }
check version "$(field 'version:')" 2.0.1
check url "$(field '  - url:')" "$(basename "$zip")"
check size "$(field '    size:')" "$(python3 -c 'import os,sys; print(os.path.getsize(sys.argv[1]))' "$zip")"
check sha512 "$(field '    sha512:')" \
  "$(python3 -c 'import base64,hashlib,sys; print(base64.b64encode(hashlib.sha512(open(sys.argv[1],"rb").read()).digest()).decode())' "$zip")"
check published "$(cat "$work/published-version")" 2.0.1
check copied "$(cmp "$zip" "$work/packages/2.0.1/$(basename "$zip")" && echo same)" same
check path "$(field 'path:')" "$(basename "$zip")"
check date "$(field 'releaseDate:' | grep -cE "^'[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\.[0-9]{3}Z'$")" 1
check map "$(head -c 8 "$zip.chunks")" QMCHUNKS

listing=$(bsdtar -tvf "$zip")
app="Quillmere Desktop.app/Contents"
check link "$(grep -c "^l.* $app/Resources/Current -> \.\./MacOS$" <<<"$listing")" 1
check executable "$(grep -c "^-rwxr-xr-x .* $app/MacOS/Quillmere Desktop$" <<<"$listing")" 1
check identifier "$(bsdtar -xOf "$zip" "$app/Info.plist" | grep -c "<string>$2</string>")" 1
check version-in-bundle "$(bsdtar -xOf "$zip" "$app/Info.plist" | grep -A1 CFBundleShortVersionString | grep -c '<string>2.0.1</string>')" 1

[ "$failed" -eq 0 ] && echo "demo package and manifest: all checks passed"
exit "$failed"
