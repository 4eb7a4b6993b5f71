#!/usr/bin/env bash
# Installs the dependencies, builds the client, the reference server, the test game and the
# site, starts the server on its defaults, the site's web server on loopback and the client
# connected to both. Both servers stop when the client ends. No game is installed at first:
# a player downloads one through "Download Games", whose installer (the test game standing
# in for every game) records it in the demo's own install records.
#
#   bash scripts/run.sh            the server and a first client
#   bash scripts/run.sh --second   one more client on this machine, for the same server
set -euo pipefail
cd "$(dirname "$0")/.."

second=false
if [ "${1:-}" = "--second" ]; then
  second=true
fi

if ! $second; then
  bash scripts/deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j"$(nproc)" --target ostrel-lobby-server ostrel-lobby ostrel-testgame \
    ostrel-site
fi
for program in build/app/ostrel-lobby build/tools/testgame/ostrel-testgame \
  build/site/games/plumbrix/setup.exe; do
  if [ ! -x "$program" ]; then
    echo "$program is missing: run bash scripts/run.sh first." >&2
    exit 1
  fi
done

# The demo's own install records, kept from run to run so that a game downloaded earlier
# stays installed. Real install records stay untouched.
demo="$PWD/build/demo"
mkdir -p "$demo"
[ -e "$demo/registry.ini" ] || : >"$demo/registry.ini"
export OSTREL_REGISTRY="$demo/registry.ini"
site_port_file="$demo/site.port"
# The game shows what it exchanges with the other player's game in a small window.
export OSTREL_TESTGAME_WINDOW=1

# Installing and building works anywhere; the client itself needs a display.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
No display found. The lobby is a desktop program; to run it without a screen, start it
under a virtual X server (xvfb-run is installed now):

    xvfb-run -a -s "-screen 0 1280x800x24" bash scripts/run.sh

MSG
  exit 1
fi

# Whether something accepts connections on a loopback port.
listening() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

if $second; then
  # The first player's site, still running.
  site_port=$(cat "$site_port_file" 2>/dev/null || true)
  if [ -z "$site_port" ] || ! listening "$site_port"; then
    echo "The demo's site is not running: start bash scripts/run.sh first." >&2
    exit 1
  fi
  # A second player on the same machine needs settings, install records, installed games,
  # a game lock and a game-presence port of its own (two machines have these apart anyway),
  # so it downloads its games for itself. Its game takes the port from the environment too.
  player="$demo/second-player"
  mkdir -p "$player/data" "$player/run"
  chmod 700 "$player/run"
  [ -e "$player/registry.ini" ] || : >"$player/registry.ini"
  echo "Second client: settings and games in $player/data, game-presence port 9002."
  XDG_DATA_HOME="$player/data" XDG_RUNTIME_DIR="$player/run" OSTREL_GAME_PORT=9002 \
    OSTREL_REGISTRY="$player/registry.ini" \
    exec build/app/ostrel-lobby --server tls://127.0.0.1 --site "http://127.0.0.1:$site_port/" || true

# "Download Lobby" closes the lobby and leaves the updater to fetch the site's build and start
# the lobby again: the servers stay up until neither runs any more.
running() {
  local p
  for p in /proc/[0-9]*; do
    case "$(readlink "$p/exe" 2>/dev/null)" in
      "$PWD/build/app/ostrel-lobby" | "$PWD/build/app/updater") return 0 ;;
    esac
  done
  return 1
}
while running; do
  sleep 1
done
fi

# The site's web server: lighttpd on the first free port from 8470, its configuration in a
# folder of the demo (removed at the end), its logs in build/demo/site-logs.
site_run="$demo/site-run"
rm -rf "$site_run"
mkdir -p "$site_run" "$demo/site-logs"
site=""
site_port=""
server=""
stop_all() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  [ -z "$site" ] || kill "$site" 2>/dev/null || true
  [ -z "$server" ] || wait "$server" 2>/dev/null || true
  [ -z "$site" ] || wait "$site" 2>/dev/null || true
  rm -rf "$site_run" "$site_port_file"
}
trap stop_all EXIT
for port in $(seq 8470 8499); do
  if listening "$port"; then
    continue
  fi
  TMPDIR="$site_run" bash tools/site/serve.sh build/site "$port" "$demo/site-logs" \
    >>"$demo/site-logs/serve.log" 2>&1 &
  site=$!
  for _ in $(seq 1 50); do
    if listening "$port" || ! kill -0 "$site" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  if kill -0 "$site" 2>/dev/null && listening "$port"; then
    site_port=$port
    break
  fi
  kill "$site" 2>/dev/null || true
  wait "$site" 2>/dev/null || true
  site=""
done
if [ -z "$site_port" ]; then
  echo "The site's web server did not start; its logs are in $demo/site-logs." >&2
  exit 1
fi
echo "$site_port" >"$site_port_file"
echo "Site http://127.0.0.1:$site_port/ (logs: $demo/site-logs)"

# The server's log of this run, replaced by the next run's.
log="$demo/server.log"
# Clients connect inside TLS (port 9021, a self-signed certificate the lobby asks the player
# to trust once); the plain port 9020 stays open for peers that cannot speak TLS.
build/server/ostrel-lobby-server --tls-listen 127.0.0.1:9021 >"$log" 2>&1 &
server=$!

# Wait until the server accepts clients (it prints "listening on HOST:PORT").
for _ in $(seq 1 100); do
  if grep -q '^listening on ' "$log"; then
    break
  fi
  if ! kill -0 "$server" 2>/dev/null; then
    echo "The lobby server did not start:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -q '^listening on ' "$log"; then
  echo "The lobby server did not report that it listens; its log: $log" >&2
  exit 1
fi
echo "Lobby server $(grep -m1 '^listening on ' "$log"), $(grep -m1 '^listening for TLS on ' "$log") (log: $log)"
echo "The lobby connects with TLS: say yes to the server's certificate the first time."
echo "Create a user name with \"Create a New Username\" in the login dialog to get started."
echo "Install a game: Download Games > Card Games > Plumbrix > Download And Install Now."
echo "For a second player, run in another terminal: bash scripts/run.sh --second"

build/app/ostrel-lobby --server tls://127.0.0.1 --site "http://127.0.0.1:$site_port/" || true

# "Download Lobby" closes the lobby and leaves the updater to fetch the site's build and start
# the lobby again: the servers stay up until neither runs any more.
running() {
  local p
  for p in /proc/[0-9]*; do
    case "$(readlink "$p/exe" 2>/dev/null)" in
      "$PWD/build/app/ostrel-lobby" | "$PWD/build/app/updater") return 0 ;;
    esac
  done
  return 1
}
while running; do
  sleep 1
done
