#!/usr/bin/env bash
# Installs the dependencies, builds the client and the reference server, starts the server
# on its defaults and the client connected to it. The server stops when the client ends.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target ostrel-lobby-server ostrel-lobby

# Installing and building works anywhere; the client itself needs a display.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
No display found. The lobby is a desktop program; to run it without a screen, start it
under a virtual X server (xvfb-run is installed now):

    xvfb-run -a -s "-screen 0 1280x800x24" bash scripts/run.sh

MSG
  exit 1
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

build/app/ostrel-lobby --server 127.0.0.1
