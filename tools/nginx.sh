# shellcheck shell=bash
# Serves a folder over HTTPS on 127.0.0.1 with Debian's nginx, for ./run's update server and
# anything else that needs a real web server on this machine. Sourced, not run; safe under
# `set -euo pipefail`. Needs tools/common.sh sourced first.
#
# Each server lives in a state folder of its own: the configuration written here, the pid file,
# both logs and nginx's temporary folders, so nothing under /etc/nginx, /var/log/nginx or
# /var/lib/nginx is read or written and a system nginx (Debian starts one on port 80 when the
# package is installed) does not get in the way. Several servers with different state folders,
# roots and ports can run side by side.
#
#   start_nginx ROOT_DIR CERT KEY PORT STATE_DIR [RATE]
#       serves ROOT_DIR at https://127.0.0.1:PORT/ (ROOT_DIR/a/b at /a/b) with the PEM
#       certificate chain CERT and its key KEY. nginx runs in the foreground as a background
#       child of the calling shell; returns once the port answers, or non-zero with the reason
#       (the port already taken, nginx failing to start) printed on stderr. With RATE (bytes per
#       second in nginx's notation: 4m, 512k) every answer is sent no faster than that, so a
#       download lasts long enough to be watched; without it nothing is slowed down.
#   stop_nginx STATE_DIR
#       stops the server started with STATE_DIR, if it still runs. Always returns 0, so it can
#       sit in an EXIT trap.

QUILLMERE_NGINX=${QUILLMERE_NGINX:-/usr/sbin/nginx}

# _nginx_ours PID STATE_DIR: whether PID is the nginx master started for STATE_DIR. Checked
# before every signal, since a pid file left behind by a killed run may name a reused pid.
_nginx_ours() {
  local cmdline
  process_alive "$1" || return 1
  cmdline=$(tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null) || return 1
  [[ $cmdline == *nginx* && $cmdline == *" $2/ "* ]]
}

# _nginx_port_answers PORT: whether something accepts connections on 127.0.0.1:PORT.
_nginx_port_answers() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

_nginx_port_taken_message() {
  echo "error: port $1 on 127.0.0.1 is already in use by another program; stop it" \
    "(\`ss -ltnp 'sport = :$1'\` shows which) and try again" >&2
}

# _nginx_show_logs STATE_DIR: prints what nginx said, for a failed start.
_nginx_show_logs() {
  local log
  for log in "$1/stderr.log" "$1/error.log"; do
    [ -s "$log" ] || continue
    echo "--- $log" >&2
    tail -n 20 "$log" >&2
  done
}

start_nginx() {
  if [ $# -ne 5 ] && [ $# -ne 6 ]; then
    echo "usage: start_nginx ROOT_DIR CERT KEY PORT STATE_DIR [RATE]" >&2
    return 2
  fi
  local root=$1 cert=$2 key=$3 port=$4 state=$5 rate=${6:-} path rate_line=""
  if [ ! -x "$QUILLMERE_NGINX" ]; then
    echo "error: $QUILLMERE_NGINX not found; install Debian's nginx package" >&2
    return 1
  fi
  if ! [[ $port =~ ^[1-9][0-9]{0,4}$ ]] || [ "$port" -gt 65535 ]; then
    echo "error: '$port' is not a TCP port" >&2
    return 1
  fi
  if [ -n "$rate" ]; then
    if ! [[ $rate =~ ^[1-9][0-9]*[kKmM]?$ ]]; then
      echo "error: '$rate' is not a rate (bytes per second, like 4m or 512k)" >&2
      return 1
    fi
    rate_line="limit_rate $rate;"
  fi
  [ -d "$root" ] || { echo "error: $root is not a folder" >&2; return 1; }
  for path in "$cert" "$key"; do
    [ -r "$path" ] || { echo "error: cannot read $path" >&2; return 1; }
  done
  mkdir -p "$state/tmp"
  root=$(cd "$root" && pwd)
  state=$(cd "$state" && pwd)
  cert=$(cd "$(dirname "$cert")" && pwd)/$(basename "$cert")
  key=$(cd "$(dirname "$key")" && pwd)/$(basename "$key")
  # The paths go into the configuration as quoted strings, where these characters would be
  # read as escapes or variables.
  for path in "$root" "$state" "$cert" "$key"; do
    if [[ $path == *[\"\\\$]* || $path == *$'\n'* ]]; then
      echo "error: nginx cannot be given the path '$path'; move it to a plainer one" >&2
      return 1
    fi
  done

  # A server of this state folder left running by a run that was killed outright.
  stop_nginx "$state"
  if _nginx_port_answers "$port"; then
    _nginx_port_taken_message "$port"
    return 1
  fi

  # Started as root, nginx's master process would hand the requests to workers running as the
  # `user` account, by default "nobody", which may not be allowed into the served folder (a
  # build tree under /root, say). So as root the workers keep the invoking account: they can
  # read what this script could read, and no more. The key is read by the master before that.
  # An ordinary user cannot switch accounts, nginx ignores the directive with a warning, so it
  # is left out and every process runs as that user. The alternative, `master_process off`, is
  # a debugging mode and would make benchmarks measure something other than a normal nginx.
  local user_line=""
  [ "$(id -u)" -ne 0 ] || user_line="user $(id -un) $(id -gn);"
  cat >"$state/nginx.conf" <<CONF
# Written by start_nginx (tools/nginx.sh) on every start; edits here are lost.
$user_line
worker_processes 1;
pid "$state/nginx.pid";
lock_file "$state/nginx.lock";
error_log "$state/error.log" warn;

events {
    worker_connections 256;
}

http {
    types {
        text/html                 html;
        text/plain                txt log;
        text/yaml                 yml yaml;
        application/json          json;
        application/zip           zip;
        application/octet-stream  bin dmg;
    }
    default_type application/octet-stream;
    charset utf-8;
    charset_types text/plain text/yaml application/json;

    access_log "$state/access.log";
    client_body_temp_path "$state/tmp/client_body";
    proxy_temp_path "$state/tmp/proxy";
    fastcgi_temp_path "$state/tmp/fastcgi";
    uwsgi_temp_path "$state/tmp/uwsgi";
    scgi_temp_path "$state/tmp/scgi";

    sendfile on;
    tcp_nopush on;
    server_tokens off;

    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate "$cert";
        ssl_certificate_key "$key";
        ssl_protocols TLSv1.2 TLSv1.3;
        root "$root";
        $rate_line
    }
}
CONF

  : >"$state/error.log"
  : >"$state/access.log"
  "$QUILLMERE_NGINX" -p "$state/" -c nginx.conf -g 'daemon off;' \
    </dev/null >"$state/stderr.log" 2>&1 &
  local pid=$!
  # nginx writes the same pid there itself; writing it now lets stop_nginx find the server
  # even when it is called before nginx got that far.
  echo "$pid" >"$state/nginx.pid"

  local _
  for _ in $(seq 50); do
    _nginx_port_answers "$port" && process_alive "$pid" && return 0
    process_alive "$pid" || break
    sleep 0.1
  done
  if grep -qs 'Address already in use' "$state/stderr.log" "$state/error.log"; then
    _nginx_port_taken_message "$port"
  elif process_alive "$pid"; then
    echo "error: nginx did not answer on 127.0.0.1:$port within 5 seconds" >&2
    _nginx_show_logs "$state"
  else
    echo "error: nginx failed to start on 127.0.0.1:$port" >&2
    _nginx_show_logs "$state"
  fi
  stop_nginx "$state"
  return 1
}

stop_nginx() {
  local state pid _
  state=$(cd "${1:?usage: stop_nginx STATE_DIR}" 2>/dev/null && pwd) || return 0
  pid=$(cat "$state/nginx.pid" 2>/dev/null) || return 0
  if ! [[ $pid =~ ^[0-9]+$ ]] || ! _nginx_ours "$pid" "$state"; then
    rm -f "$state/nginx.pid"
    return 0
  fi
  # TERM is nginx's fast shutdown: the master stops its workers, removes the pid file and
  # exits, which takes a few milliseconds.
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    process_alive "$pid" || return 0
    sleep 0.1
  done
  echo "warning: nginx ($pid) did not stop within 5 seconds; killing it" >&2
  local workers=()
  mapfile -t workers < <(pgrep -P "$pid" || true)
  kill -KILL "$pid" "${workers[@]}" 2>/dev/null || true
  rm -f "$state/nginx.pid"
  return 0
}
