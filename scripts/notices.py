#!/usr/bin/env python3
"""The licence notices of everything linked into hostally.exe.

  notices.py index QT_SOURCE OUT
      Reads every qt_attribution.json of a Qt source tree and writes
      OUT/index.json: each component Qt's source bundles, with its licence
      texts and the object files that carry its code: those of its own
      sources, of the sources that #include one of them (but for another
      platform), and of the resources that hold its data.
  notices.py write INDEX_DIR QT_DIR LINK_MAP OUT
      Writes into OUT, with CR LF line ends, one notice for each component
      whose objects the linker's map shows taken from the Qt in QT_DIR, and
      one for each Debian package whose libraries the linker took objects
      from (the C and C++ runtimes). Prints the names of the files written.
"""
import json
import os
import re
import subprocess
import sys

CODE = (".c", ".cc", ".cpp", ".cxx")
DATA = {".icc", ".ttf", ".otf"}
INCLUDE = re.compile(r'\s*#\s*include\s*[<"]([^">]+)[">]')
CONDITION = re.compile(r"\s*#\s*(if|ifdef|ifndef|elif|else|endif)\b")
# A condition that holds only on another platform: one such macro alone.
ELSEWHERE = re.compile(r"\s*#\s*(?:if|elif|ifdef)\s+(?:defined\s*\(?\s*)?(?:__APPLE__|Q_OS_(?:"
                       r"UNIX|DARWIN|MACOS|APPLE|IOS|LINUX|ANDROID|WASM|QNX|VXWORKS|INTEGRITY))"
                       r"\s*\)?\s*$")
RESOURCE = re.compile(r'qt_internal_add_resource\(\s*\S+\s+"([^"]+)"(.*?)\)', re.S)


def read_attributions(path):
    # Qt's attribution files put line breaks inside strings, which strict
    # JSON forbids; a file holds one entry or a list of them.
    with open(path, encoding="utf-8") as f:
        data = json.loads(f.read(), strict=False)
    return data if isinstance(data, list) else [data]


def covered_files(root, entry):
    """The files an entry speaks for: its Files, else its Path, else its folder."""
    names = entry.get("Files", "").split() or [entry.get("Path", ".")]
    files = []
    for name in names:
        path = os.path.normpath(os.path.join(root, name))
        if os.path.isfile(path):
            files.append(path)
        for folder, _, found in os.walk(path):
            files += [os.path.join(folder, f) for f in found]
    return files


def windows_includes(text):
    """What a source #includes, but for what only another platform's
    #if branch includes."""
    elsewhere = []  # for each open #if: whether its current branch is one
    names = []
    for line in text.splitlines():
        condition = CONDITION.match(line)
        if not condition:
            include = INCLUDE.match(line)
            if include and not any(elsewhere):
                names.append(include.group(1))
        elif condition.group(1).startswith("if"):
            elsewhere.append(bool(ELSEWHERE.match(line)))
        elif elsewhere and condition.group(1) == "endif":
            elsewhere.pop()
        elif elsewhere:
            elsewhere[-1] = bool(ELSEWHERE.match(line))
    return names


def resources(source, data):
    """For each data file name, the resource objects that carry it: Qt's
    CMake files list resources' files directly or in a variable set before."""
    carried = {}
    for folder, _, files in os.walk(source):
        if "CMakeLists.txt" not in files:
            continue
        with open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8") as f:
            text = f.read()
        for name, body in RESOURCE.findall(text):
            for var in re.findall(r"\$\{(\w+)\}", body):
                body += "".join(re.findall(r"set\(" + var + r"\b(.*?)\)", text, re.S))
            for d in data:
                if d in body:
                    carried.setdefault(d, set()).add(f"qrc_{name}.cpp")
    return carried


def licence_paths(root, entry, source):
    names = entry.get("LicenseFiles") or ([entry["LicenseFile"]] if "LicenseFile" in entry else [])
    paths = [os.path.normpath(os.path.join(root, n)) for n in names]
    if not paths:
        # Entries without a file of their own name an SPDX licence Qt ships.
        for spdx in re.split(r"\s+(?:AND|OR|and|or)\s+", entry.get("LicenseId", "")):
            paths.append(os.path.join(source, "LICENSES", spdx.strip("()") + ".txt"))
    return [p for p in paths if os.path.isfile(p)]


def index(source, out):
    sources = []
    entries = []
    for folder, dirs, files in os.walk(source):
        dirs.sort()
        sources += [os.path.join(folder, f) for f in files if f.endswith(CODE)]
        if "qt_attribution.json" in files:
            for entry in read_attributions(os.path.join(folder, "qt_attribution.json")):
                entries.append((folder, entry))

    covered = [set(covered_files(root, entry)) for root, entry in entries]
    # Data a component bundles (a colour profile, a font) is carried by the
    # resources that list it.
    data = {os.path.basename(f) for files in covered for f in files
            if os.path.splitext(f)[1] in DATA}
    naming = resources(source, data)

    # Which sources #include which files: the file beside the including one
    # when there is one, else any file whose path ends so (include folders).
    includes = []
    for path in sources:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for name in windows_includes(text):
            beside = os.path.normpath(os.path.join(os.path.dirname(path), name))
            includes.append((path, name, beside if os.path.exists(beside) else None))

    components = []
    for (root, entry), files in zip(entries, covered):
        tails = {"/".join(f.split("/")[-n:]) for f in files for n in range(1, f.count("/") + 1)}
        objects = {os.path.basename(f) for f in files if f.endswith(CODE)}
        for user, name, beside in includes:
            if beside in files or (beside is None and os.path.normpath(name) in tails):
                objects.add(os.path.basename(user))
        for f in files:
            objects |= naming.get(os.path.basename(f), set())
        texts = []
        for path in licence_paths(root, entry, source):
            with open(path, encoding="utf-8", errors="replace") as f:
                texts.append(f.read())
        components.append({
            "id": entry.get("Id", os.path.basename(root)),
            "folder": os.path.relpath(root, source),
            "entry": {k: v for k, v in entry.items() if isinstance(v, str)},
            "objects": sorted(o + ".obj" for o in objects),
            "licences": texts,
        })
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "index.json"), "w", encoding="utf-8") as f:
        json.dump(components, f, indent=1, ensure_ascii=False)


def linked(link_map):
    """(archive or object file, member) for every input the map shows; a
    member's name is its source file's with ".obj" (".o" for GCC's own)."""
    with open(link_map, encoding="utf-8", errors="replace") as f:
        text = f.read()
    found = set(re.findall(r"^(/\S+?\.a)\(([^)\s]+)\)", text, re.M))
    found |= {(p, "") for p in re.findall(r"^LOAD (/\S+\.o(?:bj)?)$", text, re.M)}
    return {(os.path.realpath(p), m) for p, m in found}


def crlf(text):
    return text.replace("\r\n", "\n").rstrip("\n").replace("\n", "\r\n") + "\r\n"


def write(index_dir, qt_dir, link_map, out):
    with open(os.path.join(index_dir, "index.json"), encoding="utf-8") as f:
        components = json.load(f)
    inputs = linked(link_map)
    qt = os.path.realpath(qt_dir) + "/"
    members = {m or os.path.basename(p) for p, m in inputs if p.startswith(qt)}
    os.makedirs(out, exist_ok=True)
    written = []
    for c in components:
        if not members.intersection(c["objects"]):
            continue
        e = c["entry"]
        head = [f"{e.get('Name', c['id'])} {e.get('Version', '')}".strip(),
                "", e.get("Description", ""),
                f"In hostally.exe through Qt ({c['folder']}). Qt's note: {e.get('QtUsage', '')}",
                f"Homepage: {e.get('Homepage', '-')}",
                f"Licence: {e.get('License', '')} ({e.get('LicenseId', '')})",
                "", e.get("Copyright", ""), "", "-" * 72, ""]
        name = f"{c['id']}.txt"
        with open(os.path.join(out, name), "w", encoding="utf-8", newline="") as f:
            f.write(crlf("\n".join(head) + "\n" + ("\n" + "-" * 72 + "\n").join(c["licences"])))
        written.append(name)

    # Libraries from Debian's packages (the compiler's runtime, MinGW-w64's
    # C runtime and threads): each package's copyright file.
    paths = sorted({p for p, _ in inputs if p.startswith("/usr/")})
    owners = subprocess.run(["dpkg-query", "-S"] + paths, capture_output=True, text=True)
    packages = {line.split(":")[0] for line in owners.stdout.splitlines()}
    for package in sorted(packages):
        with open(f"/usr/share/doc/{package}/copyright", encoding="utf-8", errors="replace") as f:
            text = f.read()
        name = f"{package}.txt"
        with open(os.path.join(out, name), "w", encoding="utf-8", newline="") as f:
            f.write(crlf(f"Debian package {package}, whose libraries hostally.exe "
                         f"is linked with\n\n{text}"))
        written.append(name)
    print("\n".join(written))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "index":
        index(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 6 and sys.argv[1] == "write":
        write(*sys.argv[2:])
    else:
        sys.exit(__doc__)
