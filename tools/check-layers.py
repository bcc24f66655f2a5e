#!/usr/bin/env python3
# Checks the include graph against the layers: every #include "..." of a library's source must name
# a header of its own folder, of a lower layer, or of a sibling engine folder it is allowed to use.
# The program's rooms (app/site, app/store, ...) are floors of their own under the main unit in app/;
# a room's internal/ headers are for that room alone.
"""Usage: check-layers.py [SOURCE_ROOT]   (exit 0 when every include runs down, else 1)"""

import os
import re
import sys

# Folder -> floor, lowest first. Folders on one floor are peers: they may not include each other.
LAYERS = [
    ("platform", 0),
    ("adaptor", 1),
    ("util", 2),
    ("net", 3),
    ("image", 3),
    ("engine", 4),
    ("adapters/resident", 5),
    ("adapters/library", 5),
    ("adapters/cgi", 5),
    ("adapters/profile", 5),
    ("adapters/fastcgi", 5),
    ("adapters/isapi", 5),
    ("adapters/nsapi", 5),
    ("adapters/choice", 6),
    ("app/site", 7),
    ("app/answer", 7),
    ("app/mail", 8),
    ("app/store", 8),
    ("app/archive", 9),
    ("app/outbox", 10),
    ("app/spam", 10),
    ("app", 11),
    ("tools/velmora-ini", 12),
    ("examples", 12),
]

# Peers on the engines' floor that one engine shares with another (each is its own CMake library
# linked by the engine that uses it).
ALLOWED_PEERS = {
    ("adapters/cgi", "adapters/resident"),
    ("adapters/profile", "adapters/resident"),
    ("adapters/isapi", "adapters/library"),
    ("adapters/nsapi", "adapters/library"),
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCE_EXT = (".cpp", ".h", ".hpp", ".c")


def folder_of(rel):
    """The layer folder a path (relative to the root, '/' separated) belongs to, or None."""
    best = None
    for folder, _ in LAYERS:
        if rel == folder or rel.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def floor_of(folder):
    return dict(LAYERS)[folder]


def layered_files(root):
    out = []
    for folder, _ in LAYERS:
        top = os.path.join(root, folder)
        for dirpath, _, names in os.walk(top):
            for name in names:
                if name.endswith(SOURCE_EXT):
                    rel = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
                    if folder_of(rel) == folder:
                        out.append(rel)
    return sorted(set(out))


def resolve(root, rel, target, by_name):
    """The layered file an include names: beside the includer first, else by its file name.
    Returns (path or None, error or None); None, None for a header outside the layered tree."""
    beside = os.path.normpath(os.path.join(os.path.dirname(rel), target)).replace(os.sep, "/")
    if os.path.isfile(os.path.join(root, beside)) and folder_of(beside):
        return beside, None
    hits = [p for p in by_name.get(os.path.basename(target), []) if p.endswith("/" + target) or p == target]
    if len(hits) > 1:
        return None, "%s: \"%s\" is ambiguous (%s)" % (rel, target, ", ".join(hits))
    return (hits[0] if hits else None), None


def check(root):
    files = layered_files(root)
    by_name = {}
    for rel in files:
        by_name.setdefault(os.path.basename(rel), []).append(rel)
    errors = []
    edges = 0
    for rel in files:
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            text = f.read()
        src = folder_of(rel)
        for target in INCLUDE.findall(text):
            hit, error = resolve(root, rel, target, by_name)
            if error:
                errors.append(error)
                continue
            if hit is None:
                continue
            dst = folder_of(hit)
            edges += 1
            if dst != src and "/internal/" in hit:
                errors.append("%s (%s) includes %s, internal to %s" % (rel, src, hit, dst))
                continue
            if dst == src or (src, dst) in ALLOWED_PEERS:
                continue
            if floor_of(dst) >= floor_of(src):
                errors.append("%s (%s, floor %d) includes %s (%s, floor %d)"
                              % (rel, src, floor_of(src), hit, dst, floor_of(dst)))
    return files, edges, errors


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    files, edges, errors = check(root)
    for e in errors:
        print("layer check: " + e)
    print("layer check: %d files, %d includes between them, %d against the layers"
          % (len(files), edges, len(errors)))
    return 1 if errors or not files else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
