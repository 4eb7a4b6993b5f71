#!/usr/bin/env bash
# Generates the site the lobby downloads from: for every game of the server's built-in
# catalogue an installer at the path the catalogue gives (games/<name>/setup.exe) with its
# signature beside it (setup.exe.sig), and an index page. Each game's folder is its own so
# that its description page and pictures can sit beside its installer.
#
#   makesite.sh SITEDIR TESTGAME SITETOOL KEYDIR CATALOGUE_SOURCE
#
# TESTGAME is the program every installer installs (the stand-in for the games); the
# catalogue is read from the server's source, its one definition. Files of the site that
# this script does not make are left alone.
set -euo pipefail

if [ $# -ne 5 ]; then
  echo "usage: $0 SITEDIR TESTGAME SITETOOL KEYDIR CATALOGUE_SOURCE" >&2
  exit 2
fi
site=$1
testgame=$2
sitetool=$3
keydir=$4
catalogue=$5
template="$(dirname "$0")/installer.sh.in"

for f in "$testgame" "$sitetool" "$catalogue" "$template"; do
  [ -f "$f" ] || { echo "makesite: $f is missing" >&2; exit 1; }
done
[ -f "$keydir/site.key" ] || { echo "makesite: no site key in $keydir" >&2; exit 1; }

# Lines "game:Category:Name:Version:/games/<name>/setup.exe" of the catalogue.
mapfile -t games < <(grep -o '"game:[^"]*:/games/[a-z0-9]*/setup\.exe' "$catalogue" | cut -c2-)
if [ ${#games[@]} -eq 0 ]; then
  echo "makesite: no games found in $catalogue" >&2
  exit 1
fi

mkdir -p "$site"
work=$(mktemp -d "$site/.makesite.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

# Debug information makes up most of the test game's size and is of no use to a player.
payload="$work/payload"
if command -v objcopy >/dev/null && objcopy --strip-debug "$testgame" "$payload" 2>/dev/null; then
  :
elif command -v strip >/dev/null && strip --strip-debug -o "$payload" "$testgame" 2>/dev/null; then
  :
else
  cp "$testgame" "$payload"
fi
payload_bytes=$(wc -c <"$payload")
base64 -w 76 "$payload" >"$work/payload.b64"

signed=()
rows=""
for line in "${games[@]}"; do
  IFS=: read -r _ _ name version path <<<"$line"
  relative=${path#/}
  lower=$(basename "$(dirname "$relative")")
  installer="$site/$relative"
  mkdir -p "$(dirname "$installer")"
  {
    sed -e "s|@GAME@|$name|g" -e "s|@LOWER@|$lower|g" -e "s|@VERSION@|$version|g" \
      -e "s|@PAYLOAD_BYTES@|$payload_bytes|g" "$template"
    cat "$work/payload.b64"
    echo "__OSTREL_PAYLOAD_END__"
  } >"$work/$lower.exe"
  chmod 0755 "$work/$lower.exe"
  mv -f "$work/$lower.exe" "$installer"
  signed+=("$installer")
  rows+="<li><a href=\"$relative\">$name $version</a> (<a href=\"$relative.sig\">signature</a>)</li>"$'\n'
done
"$sitetool" sign "$keydir" "$site" "${signed[@]}"

cat >"$work/index.html" <<HTML
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Ostrel games</title></head>
<body>
<h1>Ostrel games</h1>
<p>Installers of the games in the lobby. Each has a detached signature beside it, which
the lobby checks before it runs the installer.</p>
<ul>
${rows}</ul>
</body>
</html>
HTML
mv -f "$work/index.html" "$site/index.html"
