#!/usr/bin/env bash
# Puts the current lobby build on the site, where the lobby's updater fetches it
# (lobby/ostrel-lobby, signed beside it), with a page for downloading it by hand.
#
#   makelobby.sh SITEDIR LOBBY SITETOOL KEYDIR VERSION
set -euo pipefail

if [ $# -ne 5 ]; then
  echo "usage: $0 SITEDIR LOBBY SITETOOL KEYDIR VERSION" >&2
  exit 2
fi
site=$1
lobby=$2
sitetool=$3
keydir=$4
version=$5

mkdir -p "$site/lobby"
target="$site/lobby/ostrel-lobby"
fresh=$(mktemp "$site/lobby/.ostrel-lobby.XXXXXX")
trap 'rm -f -- "$fresh"' EXIT
# Debug information is most of the build's size and of no use to a player.
if ! { command -v objcopy >/dev/null && objcopy --strip-debug "$lobby" "$fresh" 2>/dev/null; }; then
  cp "$lobby" "$fresh"
fi
chmod 755 "$fresh"
mv -f "$fresh" "$target"
# Signed as this build's version: a lobby refuses a build older than itself.
"$sitetool" sign "$keydir" "$site" "$version" "$target"

cat >"$site/lobby/index.html" <<HTML
<!DOCTYPE html>
<html lang="en">
<head><meta charset="utf-8"><title>Halvane $version</title></head>
<body>
<h1>Halvane $version</h1>
<p>The lobby updates itself: choose "Download Lobby" in its download menu. To install it by
hand, download <a href="ostrel-lobby">ostrel-lobby</a> and its
<a href="ostrel-lobby.sig">signature</a>, and make the program executable.</p>
<p><a href="../index.html">All downloads</a></p>
</body>
</html>
HTML
