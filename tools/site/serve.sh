#!/usr/bin/env bash
# Serves the generated site on loopback with lighttpd, in the foreground, until it is
# stopped (SIGTERM or SIGINT to this script ends the server too).
#
#   serve.sh SITEDIR PORT [LOGDIR]
#
# The configuration goes into a fresh folder under TMPDIR (/tmp by default), removed again
# when the server ends; the logs go into LOGDIR, or beside the configuration (and with it)
# without it. Nothing of the system's own lighttpd set-up is used.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 SITEDIR PORT [LOGDIR]" >&2
  exit 2
fi
if ! [[ $2 =~ ^[0-9]+$ ]] || [ "$2" -lt 1 ] || [ "$2" -gt 65535 ]; then
  echo "serve.sh: not a port: $2" >&2
  exit 2
fi
if [ ! -d "$1" ]; then
  echo "serve.sh: no site folder $1" >&2
  exit 1
fi
lighttpd=$(command -v lighttpd || true)
[ -n "$lighttpd" ] || [ ! -x /usr/sbin/lighttpd ] || lighttpd=/usr/sbin/lighttpd
if [ -z "$lighttpd" ]; then
  echo "serve.sh: lighttpd is not installed (bash scripts/deps.sh installs it)" >&2
  exit 1
fi

site=$(cd "$1" && pwd)
port=$2
conf_dir=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-site.XXXXXX")
server=""
finish() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf -- "$conf_dir"
}
trap finish EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
logs=${3:-$conf_dir}
mkdir -p "$logs"
logs=$(cd "$logs" && pwd)

# A string of lighttpd's configuration language: backslashes and quotes escaped.
quote() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

cat >"$conf_dir/lighttpd.conf" <<CONF
server.document-root = $(quote "$site")
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = $(quote "$logs/error.log")
server.upload-dirs = ( $(quote "$conf_dir") )
server.modules = ( "mod_accesslog" )
accesslog.filename = $(quote "$logs/access.log")
index-file.names = ( "index.html", "index.htm" )
mimetype.assign = (
  ".exe" => "application/octet-stream",
  ".sig" => "application/octet-stream",
  ".html" => "text/html; charset=utf-8",
  ".htm" => "text/html; charset=utf-8",
  ".txt" => "text/plain; charset=utf-8",
  ".jpg" => "image/jpeg",
  ".jpeg" => "image/jpeg",
  ".gif" => "image/gif",
  ".png" => "image/png",
)
CONF

# In the background and waited for, so that a signal to this script is handled at once.
"$lighttpd" -D -f "$conf_dir/lighttpd.conf" &
server=$!
status=0
wait "$server" || status=$?
server=""
exit "$status"
