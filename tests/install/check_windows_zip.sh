#!/usr/bin/env bash
# The Windows zip as a user unpacks it: hostally.exe, data.txt, README.txt
# naming the version, and in licences/ Qt's licences, RELINKING.txt naming the
# Debian Qt source and Hostally commit, and a notice for each library the issue
# names and each one Qt's build bundled; every text with CR LF line ends.
# Usage: check_windows_zip.sh ZIP QT_DIR SOURCE_DIR VERSION
set -uo pipefail
source "$3/tests/e2e/x_session.sh"
unzip -q "$1" -d "$work" || exit 1
version="$4"
qt_version="$(basename "$2" | sed -n 's/^qt6-base-\(.*\)-mingw-.*/\1/p')"
commit="$(git -C "$3" rev-parse HEAD)"
cd "$work/Hostally-$version-windows-x64" || exit 1

problems=()
for f in hostally.exe data.txt README.txt licences/{LGPL-3.0-only,GPL-3.0-only,RELINKING}.txt \
  licences/{freetype,harfbuzz-ng,libpng,zlib,pcre2,doubleconversion,md4c}.txt; do
  [[ -s "$f" ]] || problems+=("no $f")
done
# Each library Qt built to link in has a notice named after it.
for lib in "$2"/lib/libQt6Bundled*.a; do
  name="$(basename "$lib" .a | sed 's/^libQt6Bundled//' | tr 'A-Z' 'a-z')"
  compgen -G "licences/$name*.txt" >/dev/null || problems+=("no notice for $(basename "$lib")")
done
for f in README.txt licences/*.txt; do grep -qv $'\r$' "$f" && problems+=("$f has LF line ends"); done
grep -q "Hostally $version" README.txt || problems+=("README.txt names no version $version")
grep -qF "apt-get source qt6-base=$qt_version" licences/RELINKING.txt || problems+=("no Qt source $qt_version")
grep -qF "$commit" licences/RELINKING.txt || problems+=("RELINKING.txt names no commit")
report "every file and notice, with CR LF, the version and the sources"
finish
