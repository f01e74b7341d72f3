#!/usr/bin/env bash
# The Windows zip as a user unpacks it: hostally.exe, data.txt, README.txt
# naming the version, and in licences/ Qt's licences, RELINKING.txt naming
# the Debian Qt source and Hostally commit it was built from, and a notice
# for each library the issue names and each one Qt's build bundled; every
# text with CR LF line ends, as Notepad shows them best.
# Usage: check_windows_zip.sh ZIP QT_DIR SOURCE_DIR
set -uo pipefail
zip="$1"
qt_dir="$2"
source="$3"
source "$source/tests/e2e/x_session.sh"
unzip -q "$zip" -d "$work" || exit 1
top="$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'Hostally-*')"
version="$(sed -n 's/^project(Hostally VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")"

problems=()
for f in hostally.exe data.txt README.txt licences/LGPL-3.0-only.txt licences/GPL-3.0-only.txt \
  licences/RELINKING.txt licences/freetype.txt licences/harfbuzz-ng.txt licences/libpng.txt \
  licences/zlib.txt licences/pcre2.txt licences/doubleconversion.txt licences/md4c.txt; do
  [[ -s "$top/$f" ]] || problems+=("no $f")
done
# Each library Qt built to link in has a notice named after it.
for lib in "$qt_dir"/lib/libQt6Bundled*.a; do
  name="$(basename "$lib" .a | sed 's/^libQt6Bundled//' | tr 'A-Z' 'a-z')"
  compgen -G "$top/licences/$name*.txt" >/dev/null || problems+=("no notice for $(basename "$lib")")
done
report "the zip holds every notice"

problems=()
for f in "$top/README.txt" "$top"/licences/*.txt; do
  grep -qv $'\r$' "$f" && problems+=("${f#"$top/"} has LF line ends")
done
grep -q "Hostally $version" "$top/README.txt" || problems+=("README.txt names no version $version")
qt_version="$(basename "$qt_dir" | sed -n 's/^qt6-base-\(.*\)-mingw-.*/\1/p')"
grep -qF "apt-get source qt6-base=$qt_version" "$top/licences/RELINKING.txt" ||
  problems+=("RELINKING.txt names no Qt source $qt_version")
grep -qF "$(git -C "$source" rev-parse HEAD)" "$top/licences/RELINKING.txt" ||
  problems+=("RELINKING.txt names no commit")
report "README.txt and the notices with CR LF, the version and the sources"
finish
