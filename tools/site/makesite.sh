#!/usr/bin/env bash
# Generates the site the lobby downloads from: for every game of the server's built-in
# catalogue an installer at the path the catalogue gives (games/<name>/setup.exe) with its
# signature beside it (setup.exe.sig), its description page <name>/<name>.htm with its
# pictures (<name>/images/), and an index page.
#
#   makesite.sh SITEDIR TESTGAME SITETOOL KEYDIR CATALOGUE_SOURCE JPEGTOOL PYTHON
#
# TESTGAME is the program every installer installs (the stand-in for the games); the
# catalogue is read from the server's source, its one definition. The pictures are drawn
# by pictures.py; JPEGTOOL writes the JPEG ones. Files of the site that this script does
# not make are left alone.
set -euo pipefail

if [ $# -ne 7 ]; then
  echo "usage: $0 SITEDIR TESTGAME SITETOOL KEYDIR CATALOGUE_SOURCE JPEGTOOL PYTHON" >&2
  exit 2
fi
site=$1
testgame=$2
sitetool=$3
keydir=$4
catalogue=$5
jpegtool=$6
python=$7
template="$(dirname "$0")/installer.sh.in"
pictures="$(dirname "$0")/pictures.py"

for f in "$testgame" "$sitetool" "$catalogue" "$template" "$jpegtool" "$pictures"; do
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

rows=""
names=()
categories=()
for line in "${games[@]}"; do
  IFS=: read -r _ category name version path <<<"$line"
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
  # Signed as the catalogue's version: the lobby checks that it gets that version.
  "$sitetool" sign "$keydir" "$site" "$version" "$installer"
  rows+="<li><a href=\"$lower/$lower.htm\">$name</a>: <a href=\"$relative\">installer $version</a> (<a href=\"$relative.sig\">signature</a>)</li>"$'\n'
  names+=("$name")
  categories+=("$category")
done

# Description pages. The lobby reads a page's sources below the game's folder: a relative
# source and one starting with "/" both name a file of <name>/, and links leave the
# folder with "../", which a browser opening the page reads the same way.
"$python" "$pictures" "$work/pages" "${names[@]}"
for i in "${!names[@]}"; do
  name=${names[$i]}
  category=${categories[$i]}
  lower=${name,,}
  folder="$work/pages/$lower"
  "$jpegtool" "$folder/box.ppm" "$folder/images/box.jpg"
  rm -f "$folder/box.ppm"
  kind=$(printf '%s' "$category" | tr '[:upper:]' '[:lower:]')
  cat >"$folder/$lower.htm" <<HTML
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>$name</title></head>
<body>
<h1>$name</h1>
<p><img src="images/box.jpg" width="240" height="160" alt="The $name box"></p>
<p>$name is one of the $kind games of the Ostrel lobby. Pick its room in the lobby, meet
the players who are there, and host a game or join one that is waiting for players.</p>
<p>Every game is played between the players' own computers: the lobby only brings you
together, and a game you host runs on yours.</p>
<h2>The board</h2>
<p><img src="/images/board.gif" width="160" height="160" alt="A $name board"></p>
<p>Get the game with the lobby's download menu, or fetch the
<a href="../games/$lower/setup.exe">$name installer</a> yourself. All games are listed on
the <a href="../index.html">games page</a>.</p>
</body>
</html>
HTML
  mkdir -p "$site/$lower/images"
  mv -f "$folder/images/box.jpg" "$folder/images/board.gif" "$site/$lower/images/"
  mv -f "$folder/$lower.htm" "$site/$lower/$lower.htm"
done

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
