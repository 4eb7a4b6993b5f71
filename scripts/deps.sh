#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libasio-dev libsqlite3-dev libsodium-dev libjpeg-dev libpq-dev libssl-dev
  # The HTML parser that description pages from the site go through before they are shown.
  libgumbo-dev
  libhiredis-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth fonts-dejavu-core iproute2
  # The server tells systemd when it is ready and that it is alive (sd_notify).
  libsystemd-dev
  # The metrics test scrapes a test server with a Prometheus of its own on loopback; the
  # package's system service may start or not, nothing of ours uses it.
  prometheus
  # The package check: cpack's dependency scan and the desktop entry's validator.
  dpkg-dev desktop-file-utils
  # The web server of the site (tools/site/serve.sh runs its own instance on loopback). The
  # package's system service may start on port 80 or not (no systemd, a policy that denies
  # it, the port taken): its install succeeds either way and nothing of ours uses it.
  lighttpd
  # A private session bus for the desktop-notification tests.
  dbus-daemon
  # The shared account store's tests start a PostgreSQL cluster of their own (initdb and
  # pg_ctl into a temporary folder, on loopback); the package's own cluster is not used.
  postgresql
  # Server nodes of one lobby meet through Redis; its tests start their own redis-server.
  redis-server
  # The IRC server the server load generator compares against (--compare); it runs its own
  # instance on loopback. Like lighttpd, the package's system service may start or not.
  ngircd
  # The lobby asks the home router to forward the game port (UPnP IGD). The hosting test
  # runs a real router in network namespaces: miniupnpd with nftables NAT. The package
  # holds only the program, no system service; the test starts its own instance with its
  # own configuration.
  libminiupnpc-dev miniupnpd-nftables nftables
  # The load generator counts each server's write calls with perf stat (skipped without it).
  linux-perf
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
