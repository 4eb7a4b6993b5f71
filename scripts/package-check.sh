#!/usr/bin/env bash
# Builds the Debian package in build/, installs it with apt-get, runs both installed
# programs, checks the package's contents, desktop entry and service unit, and removes the
# package again (purged, so its defaults file goes too; the system user "ostrel" it created
# stays, as Debian packages leave their users). OSTREL_PACKAGE_CHECK=0 skips it.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${OSTREL_PACKAGE_CHECK:-1}" = 0 ]; then
  echo "package check skipped (OSTREL_PACKAGE_CHECK=0)"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
apt_get() {
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@"
}

if dpkg-query -W -f='${Status}' halvane 2>/dev/null | grep -q 'ok installed$'; then
  echo "halvane is installed on this machine; the check would replace and then remove it."
  echo "Remove it first (apt-get purge halvane) or skip the check with OSTREL_PACKAGE_CHECK=0."
  exit 1
fi

bash scripts/deps.sh
# The tests' build folder serves as it is: only the two programs and their data have
# install rules, so the test programs built beside them stay out of the package.
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
rm -f build/halvane_*.deb
(cd build && cpack -G DEB)
debs=(build/halvane_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "expected one package in build/"
  exit 1
fi
deb="${debs[0]}"
echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends Section

# Exactly these files; anything else (a test program, a build path) is a fault.
expected="/etc/default/ostrel-lobby-server
/usr/bin/ostrel-lobby
/usr/bin/ostrel-lobby-server
/usr/lib/systemd/system/ostrel-lobby-server.service
/usr/share/applications/halvane.desktop"
for size in 16 24 32 48 64 128 256; do
  expected+=$'\n'"/usr/share/icons/hicolor/${size}x${size}/apps/halvane.png"
done
expected+=$'\n'"/usr/share/icons/hicolor/scalable/apps/halvane.svg"
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort)
if [ "$actual" != "$(sort <<<"$expected")" ]; then
  echo "the package holds other files than expected:"
  diff <(sort <<<"$expected") <(echo "$actual") || true
  exit 1
fi

installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    apt_get purge halvane >/dev/null
    echo "== halvane removed"
  fi
}
trap cleanup EXIT

installed=1
# Without the recommended extras, so that removing the package leaves the machine as found.
apt_get install --no-install-recommends "./$deb"

version=$(dpkg-deb --field "$deb" Version)
out=$(/usr/bin/ostrel-lobby-server --help)
grep -q '^usage: ostrel-lobby-server' <<<"$out" || {
  echo "ostrel-lobby-server --help printed:"
  echo "$out"
  exit 1
}
# No display at all, as on a plain terminal: both programs answer --version.
for program in ostrel-lobby ostrel-lobby-server; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "/usr/bin/$program" --version)
  grep -qF " $version" <<<"$out" || {
    echo "$program --version printed \"$out\", not version $version"
    exit 1
  }
  echo "installed $program answers: $out"
done

getent passwd ostrel >/dev/null || { echo "the package did not create the user ostrel"; exit 1; }
desktop-file-validate /usr/share/applications/halvane.desktop
grep -qx 'EXTRA_ARGS=""' /etc/default/ostrel-lobby-server
if command -v systemd-analyze >/dev/null; then
  # Fails on a unit systemd cannot load or a program it would not find.
  systemd-analyze verify /usr/lib/systemd/system/ostrel-lobby-server.service
fi
echo "== package check passed"
