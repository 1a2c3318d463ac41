#!/usr/bin/env python3
"""Reads `git diff -U0` on stdin and the compile database named by argv[1].
Prints one line per source to run clang-tidy on: the source, a tab, and its
-line-filter JSON (its own changed lines and those of every changed header).
The sources are every changed one and, for each changed header, one source
that reaches it (its own .cpp when there is one, else through other headers):
a header's lines are only seen through a source. A changed file no source
reaches is printed as "UNCHECKED", a tab and the file."""
import json
import os
import re
import sys

db = json.load(open(sys.argv[1]))
root = os.getcwd()
sources = sorted({os.path.realpath(os.path.join(e["directory"], e["file"])) for e in db})

changed = {}
current = None
for line in sys.stdin:
    line = line.rstrip("\n")
    if line.startswith("+++ "):
        # git ends a name that holds a space with a tab; /dev/null is a deleted file.
        m = re.match(r"^\+\+\+ b/(.*?)\t?$", line)
        current = os.path.realpath(os.path.join(root, m.group(1))) if m else None
        continue
    m = re.match(r"^@@ .* \+(\d+)(?:,(\d+))? @@", line)
    if m and current:
        start, count = int(m.group(1)), int(m.group(2) or 1)
        if count:
            changed.setdefault(current, []).append([start, start + count - 1])

texts = {}


def text(path):
    if path not in texts:
        try:
            texts[path] = open(path, encoding="utf-8", errors="replace").read()
        except OSError:
            texts[path] = ""
    return texts[path]


def includes(path, header):
    name = re.escape(os.path.basename(header))
    return re.search(r'#include\s+"(?:[\w./-]*/)?' + name + '"', text(path)) is not None


project_headers = [os.path.join(d, f) for base in ("src", "tests", "bench")
                   for d, _, files in os.walk(os.path.join(root, base))
                   for f in files if f.endswith(".h")]


def source_reaching(header):
    own = header[:-2] + ".cpp"
    if own in sources:
        return own
    seen, frontier = {header}, [header]
    while frontier:
        for h in frontier:
            for source in sources:
                if includes(source, h):
                    return source
        frontier = [p for p in project_headers
                    if p not in seen and any(includes(p, h) for h in frontier)]
        seen.update(frontier)
    return None


run = set()
for path in changed:
    if path.endswith(".cpp"):
        if path in sources:
            run.add(path)
        else:
            print("UNCHECKED\t" + os.path.relpath(path, root) + " (no compile command)")
        continue
    source = source_reaching(path)
    if source:
        run.add(source)
    else:
        print("UNCHECKED\t" + os.path.relpath(path, root) + " (no source includes it)")

headers = [{"name": p, "lines": l} for p, l in sorted(changed.items()) if not p.endswith(".cpp")]
for source in sorted(run):
    own = [{"name": source, "lines": changed[source]}] if source in changed else []
    print(source + "\t" + json.dumps(own + headers))
