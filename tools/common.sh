# shellcheck shell=bash
# Shared by ./run and ./test: installs the Debian packages the build needs (only those
# missing) and configures a build folder. Sourced, not run.

# Debian packages every build needs, and the tools the installer runs on Linux.
# shellcheck disable=SC2034 # used by the scripts that source this file
QUILLMERE_BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-translations-l10n libicu-dev libplist-dev libarchive-tools procps
  libssl-dev libyaml-cpp-dev libarchive-dev libzip-dev libsodium-dev
)

# ensure_packages PACKAGE...: installs whichever of the packages is not installed yet.
ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
      || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q \
    && "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_build DIR [CMAKE ARGS...]: configures DIR with Ninja (again when it exists), through
# ccache when it is installed.
configure_build() {
  local dir=$1 launcher=()
  shift
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$QUILLMERE_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
}

# process_alive PID: whether PID is a process that has not exited (a zombie, not yet waited for,
# counts as exited).
process_alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}
