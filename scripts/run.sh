#!/usr/bin/env bash
# Installs the dependencies, builds the client, the reference server and the test game,
# starts the server on its defaults and the client connected to it. The server stops when
# the client ends. The test game is installed for the demo as the game "Plumbrix", so a
# game can be hosted in one client and joined from another.
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
  cmake --build build -j"$(nproc)" --target ostrel-lobby-server ostrel-lobby ostrel-testgame
fi
for program in build/app/ostrel-lobby build/tools/testgame/ostrel-testgame; do
  if [ ! -x "$program" ]; then
    echo "$program is missing: run bash scripts/run.sh first." >&2
    exit 1
  fi
done

# The demo's own install records: the test game stands in for Plumbrix (the version of the
# server's sample catalogue, so that no update is offered). Real install records stay
# untouched.
demo="$PWD/build/demo"
mkdir -p "$demo"
cat >"$demo/registry.ini" <<EOF
[Plumbrix]
InstallPath=$PWD/build/tools/testgame/ostrel-testgame
Version=1.6.7
EOF
export OSTREL_REGISTRY="$demo/registry.ini"
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

if $second; then
  # A second player on the same machine needs settings, a game lock and a game-presence
  # port of its own (two machines have these apart anyway). Its game takes the port from
  # the environment too.
  player="$demo/second-player"
  mkdir -p "$player/data" "$player/run"
  chmod 700 "$player/run"
  echo "Second client: settings in $player/data, game-presence port 9002."
  XDG_DATA_HOME="$player/data" XDG_RUNTIME_DIR="$player/run" OSTREL_GAME_PORT=9002 \
    exec build/app/ostrel-lobby --server 127.0.0.1
fi

log="$(mktemp -t ostrel-lobby-server.XXXXXX.log)"
build/server/ostrel-lobby-server >"$log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT

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
echo "Lobby server $(grep -m1 '^listening on ' "$log") (log: $log)"
echo "Create a user name with \"Create a New Username\" in the login dialog to get started."
echo "For a second player, run in another terminal: bash scripts/run.sh --second"

build/app/ostrel-lobby --server 127.0.0.1
