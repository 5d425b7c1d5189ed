# shellcheck shell=bash
# The demo road of ./run: a demo application package made on this machine, published on the
# local update server, and a walk through the installer window without a display. Sourced, not
# run; safe under `set -euo pipefail` with `shopt -s inherit_errexit`. The walk needs
# tools/common.sh sourced first. The walk and the summary are meant to be called in a condition
# (`walk_headless ... || status=$?`), where bash runs a function without errexit, so they check
# each of their steps themselves; inside them shellcheck's SC2310 (a function called in a
# condition runs without errexit) has nothing left to say, and is disabled.
#
# Everything lives in one demo folder DEMO (build-run/demo for ./run):
#   DEMO/www/updates/     what the update server serves: latest-mac.yml and the packages
#   DEMO/packages/        the bundles and their zips, one folder per version
#   DEMO/published-version  the version latest-mac.yml offers, kept between runs
#   DEMO/Applications/    the install folder compiled into the demo build
#   DEMO/home/            HOME of the installer, so the previous copy goes to this Trash
#   DEMO/tmp/             TMPDIR of the installer: downloads and stage directories
#   DEMO/started.log      one line per start of an installed copy
#   DEMO/nginx/           the server's state (tools/nginx.sh); its access.log is watched
#   DEMO/xvfb-display     the display number Xvfb chose for the last walk
#
#   demo_package_name VERSION
#       the package's file name on the server.
#   make_demo_app DIR VERSION BUNDLE_ID STARTED_LOG PAD_MIB
#       makes DIR/Quillmere Desktop.app: an Info.plist with the identifier and version, an
#       executable that appends a line to STARTED_LOG (and shows a small window when it has a
#       display and xmessage is there), a symbolic link Contents/Resources/Current -> ../MacOS,
#       and PAD_MIB MiB of random bytes in Contents/Resources/padding.bin, the same in every
#       version (DIR/../padding-PAD_MIB.bin, made once; none for 0), as an application's resources mostly stay, so
#       that an update can be fetched as a delta.
#   zip_demo_app DIR ZIP
#       zips DIR/Quillmere Desktop.app into ZIP, keeping modes and symbolic links.
#   publish_demo DEMO VERSION BUNDLE_ID PAD_MIB PUBLISH [SECRET_KEY]
#       makes the package of VERSION in DEMO/packages/VERSION (unless it is there already) and
#       publishes it with the quillmere-publish at PUBLISH into DEMO/www/updates (the zip, its
#       manifest and chunk map, and with SECRET_KEY its signature); records VERSION in
#       DEMO/published-version.
#   demo_installer_env DEMO
#       prints the environment the installer runs in (for `env`): HOME, TMPDIR, no XDG folders.
#   walk_headless INSTALLER DEMO SHOTS
#       starts Xvfb and the installer on it and walks the road with the keys a person would
#       press: Return on the offer, Return on "完成". Saves a screenshot of each state it sees in
#       SHOTS and returns non-zero when the road does not reach its end. The pids of what it
#       starts are appended to the caller's array `pids`, which the caller stops, and its
#       scratch folder (screen captures being compared) to the caller's array `temporaries`,
#       which the caller removes; both from the caller's EXIT trap.
#   demo_offer INSTALLED OFFERED
#       the offer the installer makes when INSTALLED (empty: nothing) is installed and OFFERED
#       is on the server: 安装, 重新安装 or 更新 (versions compared as plain text).
#   demo_summary DEMO OFFERED STARTS_BEFORE TRASHED_BEFORE INSTALLED_BEFORE LOG_LINES_BEFORE
#       prints what happened: the version offered and the offer, the version installed, where
#       the previous copy went, whether the new copy was started, and what was fetched of the
#       package (from the lines nginx logged after LOG_LINES_BEFORE): a delta when its ranges
#       were all it took. Returns non-zero when the
#       road did not complete.
#   demo_installed_version DEMO, demo_trashed DEMO, demo_starts DEMO, demo_log_lines DEMO
#       print the installed copy's version (nothing when there is none), the names in the
#       Trash of DEMO/home, and the number of lines in DEMO/started.log and in nginx's log.
#   wait_for SECONDS COMMAND...
#       polls COMMAND every 50 ms until it succeeds; fails once SECONDS have passed.
#   count_above COUNT COMMAND...
#       whether COMMAND prints a number above COUNT.

demo_package_name() {
  echo "Quillmere-Desktop-$1-arm64-mac.zip"
}

make_demo_app() {
  local dir=$1 version=$2 bundle_id=$3 log=$4 pad_mib=$5
  local app="$dir/Quillmere Desktop.app"
  rm -rf "$app"
  mkdir -p "$app/Contents/MacOS" "$app/Contents/Resources"
  cat >"$app/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>Quillmere Desktop</string>
	<key>CFBundleIdentifier</key>
	<string>$bundle_id</string>
	<key>CFBundleName</key>
	<string>Quillmere Desktop</string>
	<key>CFBundleShortVersionString</key>
	<string>$version</string>
	<key>CFBundleVersion</key>
	<string>$version</string>
</dict>
</plist>
PLIST
  # The log's path is written into the program: the installer starts it with its own environment.
  local quoted_log
  printf -v quoted_log '%q' "$log"
  cat >"$app/Contents/MacOS/Quillmere Desktop" <<SH
#!/bin/sh
# The demo's stand-in for the application: it notes that it was started, and from where.
echo "\$(date '+%Y-%m-%d %H:%M:%S') \$0 $version" >>$quoted_log
if [ -n "\${DISPLAY:-}" ] && command -v xmessage >/dev/null 2>&1; then
  LC_ALL=C xmessage -geometry -0-0 -timeout 8 "Quillmere Desktop $version started" >/dev/null 2>&1 &
fi
exit 0
SH
  chmod 755 "$app/Contents/MacOS/Quillmere Desktop"
  ln -s ../MacOS "$app/Contents/Resources/Current"
  [ "$pad_mib" -gt 0 ] || return 0
  local padding="$dir/../padding-$pad_mib.bin"
  if [ "$(stat -c %s "$padding" 2>/dev/null || echo 0)" != "$((pad_mib * 1048576))" ]; then
    head -c "$((pad_mib * 1048576))" /dev/urandom >"$padding"
  fi
  cp "$padding" "$app/Contents/Resources/padding.bin"
}

zip_demo_app() {
  local dir=$1 zip=$2
  zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
  rm -f "$zip"
  # -y keeps the link a link; random padding is stored, not compressed (-n).
  (cd "$dir" && zip -q -r -y -X -n .bin "$zip.part" "Quillmere Desktop.app")
  mv "$zip.part" "$zip"
}

publish_demo() {
  local demo=$1 version=$2 bundle_id=$3 pad_mib=$4 publish=$5
  if ! [[ $version =~ ^[0-9A-Za-z][0-9A-Za-z.+-]*$ ]]; then
    echo "error: '$version' is not a version (letters, digits, '.', '+', '-')" >&2
    return 1
  fi
  local zip
  zip="$demo/packages/$version/$(demo_package_name "$version")"
  mkdir -p "$demo/www/updates" "$demo/packages/$version"
  if [ ! -s "$zip" ]; then
    echo "Making the demo package $(basename "$zip")"
    make_demo_app "$demo/packages/$version" "$version" "$bundle_id" "$demo/started.log" "$pad_mib"
    zip_demo_app "$demo/packages/$version" "$zip"
  fi
  "$publish" "$zip" "$demo/www/updates" ${6:+--key "$6"}
  echo "$version" >"$demo/published-version"
}

demo_log_lines() {
  if [ -f "$1/nginx/access.log" ]; then wc -l <"$1/nginx/access.log"; else echo 0; fi
}

# demo_fetched DEMO LINES_BEFORE ZIP: "X MiB of Y MiB (delta)" or "(full)", the bytes nginx sent
# for ZIP and its chunk map in the lines it logged after LINES_BEFORE ("combined" format: the
# path is field 7, the status 9, the bytes 10).
demo_fetched() {
  local size
  size=$(stat -c %s "$1/www/updates/$3") || return 1
  tail -n +"$(($2 + 1))" "$1/nginx/access.log" | awk -v zip="/updates/$3" -v size="$size" '
    $7 == zip || $7 == zip ".chunks" { bytes += $10 }
    $7 == zip && $9 == 200 { full = 1 }
    $7 == zip && $9 == 206 { ranged = 1 }
    END { printf "%.1f MiB of %.1f MiB (%s)\n", bytes / 1048576, size / 1048576, ranged && !full ? "delta" : "full" }'
}

demo_installer_env() {
  printf '%s\n' -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME \
    "HOME=$1/home" "TMPDIR=$1/tmp"
}

demo_installed_version() {
  local plist="$1/Applications/Quillmere Desktop.app/Contents/Info.plist"
  [ -f "$plist" ] || return 0
  sed -n '/<key>CFBundleShortVersionString<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;q}' "$plist"
}

demo_trashed() {
  ls -1 "$1/home/.local/share/Trash/files" 2>/dev/null || true
}

demo_starts() {
  if [ -f "$1/started.log" ]; then wc -l <"$1/started.log"; else echo 0; fi
}

wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# _demo_shot DISPLAY FILE: the whole screen as PNG.
_demo_shot() {
  DISPLAY=$1 xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$2.part" && mv "$2.part" "$2"
}

# _demo_still DISPLAY FILE: saves the screen once two captures 300 ms apart agree (the spinner
# has stopped); after 5 seconds the last capture is saved as it is. The captures go to
# walk_headless's scratch folder.
_demo_still() {
  local a="$scratch/a.xwd" b="$scratch/b.xwd" _
  DISPLAY=$1 xwd -root -silent >"$a" || return 1
  for _ in $(seq 16); do
    sleep 0.3
    DISPLAY=$1 xwd -root -silent >"$b" || return 1
    cmp -s "$a" "$b" && break
    mv "$b" "$a" || return 1
  done
  xwdtopnm <"$a" 2>/dev/null | pnmtopng >"$2"
}

# _demo_downloading PID FOLDER SIZE: whether process PID has a file open in FOLDER that holds
# more than SIZE bytes. The download is an unnamed temporary file until it is complete, so it
# is found through the process's open files.
_demo_downloading() {
  local fd target
  for fd in /proc/"$1"/fd/*; do
    target=$(readlink "$fd" 2>/dev/null) || continue
    [[ $target == "$2"/* ]] || continue
    [ "$(stat -L -c %s "$fd" 2>/dev/null || echo 0)" -gt "$3" ] && return 0
  done
  return 1
}

# shellcheck disable=SC2310 # tests, nothing for errexit to stop
_demo_downloading_or_over() {
  _demo_downloading "$@" || _demo_exists "$2" quillmere-stage-
}

count_above() {
  local count=$1
  shift
  [ "$("$@")" -gt "$count" ]
}

_demo_ended() { ! process_alive "$1"; }

# _demo_started_or_failed DEMO STARTS DISPLAY PID: whether a copy was started since STARTS, or
# process PID shows the alert of a failure ("安装未完成").
_demo_started_or_failed() {
  # shellcheck disable=SC2310 # a test, nothing for errexit to stop
  count_above "$2" demo_starts "$1" \
    || DISPLAY=$3 xdotool search --all --onlyvisible --pid "$4" --name '^安装未完成$' >/dev/null 2>&1
}

# _demo_manifest_fetches LOG: how many times nginx served the manifest.
_demo_manifest_fetches() {
  grep -c 'GET /updates/latest-mac.yml' "$1" || true
}

# _demo_exists DIR PREFIX: whether DIR holds an entry whose name starts with PREFIX.
_demo_exists() {
  local f
  for f in "$1/$2"*; do [ -e "$f" ] && return 0; done
  return 1
}

# _demo_walk_shot NAME CAPTURE: the next numbered screenshot of the walk, NAME.png, taken with
# CAPTURE (_demo_shot or _demo_still). Uses walk_headless's display, shots and step.
_demo_walk_shot() {
  step=$((step + 1))
  local file
  file="$shots/$(printf %02d "$step")-$1.png"
  "$2" "$display" "$file" || { echo "error: could not save the screenshot $file" >&2; return 1; }
}

# _demo_walk_stuck REASON: where the road stops, the screen shows why.
# shellcheck disable=SC2310
_demo_walk_stuck() {
  echo "error: $1" >&2
  _demo_walk_shot stuck _demo_still \
    && echo "The screen at that moment: $shots/$(printf %02d "$step")-stuck.png" >&2
  return 1
}

# shellcheck disable=SC2310
walk_headless() {
  local installer=$1 demo=$2 shots=$3
  local size display window="" pid starts fetches step=0 environment=() scratch
  size=$(sed -n 's/^ *size: *\([0-9]*\).*/\1/p' "$demo/www/updates/latest-mac.yml" | head -n1)
  [[ $size =~ ^[0-9]+$ ]] || { echo "error: the demo manifest gives no package size" >&2; return 1; }
  rm -rf "$shots" "$demo"/tmp/quillmere-* || return 1
  mkdir -p "$shots" "$demo/tmp" "$demo/home" || return 1
  scratch=$(mktemp -d) || return 1
  temporaries+=("$scratch")
  starts=$(demo_starts "$demo") || return 1
  fetches=$(_demo_manifest_fetches "$demo/nginx/access.log") || return 1
  mapfile -t environment < <(demo_installer_env "$demo")

  # The window (520 x 330) centres itself; below it there is room for what the started copy
  # shows in the bottom right corner. Xvfb picks a free display number and writes it out.
  local numbered="$demo/xvfb-display"
  rm -f "$numbered" || return 1
  Xvfb -displayfd 3 -screen 0 640x460x24 -nolisten tcp 3>"$numbered" >/dev/null 2>&1 &
  pids+=($!)
  wait_for 10 grep -qs '^[0-9]' "$numbered" || { echo "error: Xvfb did not start" >&2; return 1; }
  display=:$(head -n1 "$numbered") || return 1
  env "${environment[@]}" DISPLAY="$display" "$installer" &
  pid=$!
  pids+=("$pid")

  # The offer: the window is up, the manifest was served and the spinner has stopped.
  wait_for 20 env DISPLAY="$display" xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1 \
    || { _demo_walk_stuck "the installer window did not appear"; return 1; }
  window=$(DISPLAY=$display xdotool search --onlyvisible --pid "$pid" | head -n1) || window=""
  [ -n "$window" ] || { _demo_walk_stuck "the installer window went away"; return 1; }
  wait_for 20 count_above "$fetches" _demo_manifest_fetches "$demo/nginx/access.log" \
    || { _demo_walk_stuck "the installer did not fetch the manifest"; return 1; }
  _demo_walk_shot offer _demo_still || return 1

  # Return presses the primary button and the download starts; caught a quarter of the way in,
  # unless it was a delta that is over before that (staging has begun).
  DISPLAY=$display xdotool windowfocus "$window" key Return \
    || { _demo_walk_stuck "could not press Return on the offer"; return 1; }
  wait_for 30 _demo_downloading_or_over "$pid" "$demo/tmp" "$((size / 4))" \
    || { _demo_walk_stuck "the download did not start"; return 1; }
  _demo_walk_shot download _demo_shot || return 1

  # The placed package is unpacked, verified and installed on the window's own thread, so the
  # window is not repainted meanwhile: this shows whatever it drew last.
  wait_for 600 _demo_exists "$demo/tmp" quillmere-stage- \
    || { _demo_walk_stuck "the download did not end"; return 1; }
  _demo_walk_shot staging _demo_shot || return 1

  # Completed: the new copy was started (its own small window too, when it could show one)
  # and the installer's window has settled. A failure shows its alert instead.
  wait_for 60 _demo_started_or_failed "$demo" "$starts" "$display" "$pid" || true
  if ! count_above "$starts" demo_starts "$demo"; then
    if _demo_started_or_failed "$demo" "$starts" "$display" "$pid"; then
      _demo_walk_stuck "the installer shows a failure (its alert, \"安装未完成\")"
    else
      _demo_walk_stuck "the new copy was not started"
    fi
    return 1
  fi
  _demo_walk_shot completed _demo_still || return 1

  # Return on "完成" ends the installer; on a failure's alert it would only close the alert.
  DISPLAY=$display xdotool windowfocus "$window" key Return \
    || { _demo_walk_stuck "could not press Return on \"完成\""; return 1; }
  wait_for 10 _demo_ended "$pid" \
    || { _demo_walk_stuck "the installer did not end on Return"; return 1; }
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "error: the installer exited with status $status" >&2; return 1; }
  echo "Screenshots:"
  printf '  %s\n' "$shots"/*.png
}

demo_offer() {
  if [ -z "$1" ]; then
    echo 安装
  elif [ "$1" = "$2" ]; then
    echo 重新安装
  else
    echo 更新
  fi
}

# shellcheck disable=SC2310
demo_summary() {
  local demo=$1 offered=$2 starts_before=$3 trashed_before=$4 installed_before=$5 lines_before=$6
  local installed previous starts fetched ok=0
  installed=$(demo_installed_version "$demo") || return 1
  previous=$(comm -13 <(echo "$trashed_before") <(demo_trashed "$demo") | tail -n1) || return 1
  starts=$(demo_starts "$demo") || return 1
  fetched=$(demo_fetched "$demo" "$lines_before" "$(demo_package_name "$offered")") || return 1
  echo "Road summary:"
  echo "  offered:        $offered ($(demo_offer "$installed_before" "$offered"))"
  echo "  installed:      ${installed:-nothing} (in $demo/Applications)"
  if [ -n "$previous" ]; then
    echo "  previous copy:  $demo/home/.local/share/Trash/files/$previous"
  else
    echo "  previous copy:  none"
  fi
  if [ "$starts" -gt "$starts_before" ]; then
    echo "  new copy started: yes ($(tail -n1 "$demo/started.log"))"
  else
    echo "  new copy started: no"
    ok=1
  fi
  echo "  fetched:        $fetched"
  [ "$installed" = "$offered" ] || ok=1
  return "$ok"
}
