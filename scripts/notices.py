#!/usr/bin/env python3
"""notices.py QT_SOURCE OUT

Writes into OUT one notice for each component that Qt's source bundles in
the modules hostally.exe links (Core, Gui, Widgets, the Windows platform
plugin and the styles), as its qt_attribution.json files describe them, and
copies the two licences Qt itself is used under. Every component of those modules' folders and of
src/3rdparty ships, whether or not the build took code from it: that is never
one too few.
"""
import json
import os
import re
import shutil
import sys

MODULES = ["src/corelib", "src/gui", "src/widgets", "src/plugins/platforms/windows",
           "src/plugins/styles", "src/3rdparty"]
# Bundled for other platforms (Android, WebAssembly, X11) or for Qt Network.
ELSEWHERE = {"src/3rdparty/" + d for d in ("android", "gradle", "wasm", "xcb", "libpsl")}


def read_attributions(path):
    # Qt's attribution files put line breaks inside strings, which strict
    # JSON forbids; a file holds one entry or a list of them.
    with open(path, encoding="utf-8") as f:
        data = json.loads(f.read(), strict=False)
    return data if isinstance(data, list) else [data]


def licence_texts(root, entry, source):
    names = entry.get("LicenseFiles") or ([entry["LicenseFile"]] if "LicenseFile" in entry else [])
    paths = [os.path.normpath(os.path.join(root, n)) for n in names]
    if not paths:
        # Entries without a file of their own name an SPDX licence Qt ships.
        for spdx in re.split(r"\s+(?:AND|OR|and|or)\s+", entry.get("LicenseId", "")):
            paths.append(os.path.join(source, "LICENSES", spdx.strip("()") + ".txt"))
    texts = []
    for path in filter(os.path.isfile, paths):
        with open(path, encoding="utf-8", errors="replace") as f:
            texts.append(f.read().replace("\r\n", "\n").rstrip("\n") + "\n")
    return texts


def main(source, out):
    os.makedirs(out, exist_ok=True)
    for module in MODULES:
        for root, dirs, files in os.walk(os.path.join(source, module)):
            dirs.sort()
            folder = os.path.relpath(root, source)
            if "qt_attribution.json" not in files or folder in ELSEWHERE:
                continue
            for entry in read_attributions(os.path.join(root, "qt_attribution.json")):
                e = {k: v for k, v in entry.items() if isinstance(v, str)}
                name = e.get("Id", os.path.basename(root))
                head = [f"{e.get('Name', name)} {e.get('Version', '')}".strip(),
                        "", e.get("Description", ""),
                        f"In hostally.exe through Qt ({folder}). Qt's note: {e.get('QtUsage', '')}",
                        f"Homepage: {e.get('Homepage', '-')}",
                        f"Licence: {e.get('License', '')} ({e.get('LicenseId', '')})",
                        "", e.get("Copyright", ""), "", "-" * 72, ""]
                text = "\n".join(head) + "\n" + ("\n" + "-" * 72 + "\n").join(
                    licence_texts(root, entry, source))
                with open(os.path.join(out, f"{name}.txt"), "w", encoding="utf-8") as f:
                    f.write(text.rstrip("\n") + "\n")
    for licence in ("LGPL-3.0-only.txt", "GPL-3.0-only.txt"):
        shutil.copy(os.path.join(source, "LICENSES", licence), out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
