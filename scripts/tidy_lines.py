#!/usr/bin/env python3
"""Reads `git diff -U0` on stdin and the compile database named by argv[1].
Prints one line per source to run clang-tidy on: the source, a tab, and its
-line-filter JSON (its own changed lines and those of every changed header).
The sources are every changed one and, for each changed header, one source
that includes it (its own .cpp when there is one): a header's lines are only
seen through a source."""
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
    m = re.match(r"^\+\+\+ b/(.*)", line)
    if m:
        current = os.path.realpath(os.path.join(root, m.group(1).rstrip("\n")))
        continue
    m = re.match(r"^@@ .* \+(\d+)(?:,(\d+))? @@", line)
    if m and current:
        start, count = int(m.group(1)), int(m.group(2) or 1)
        if count:
            changed.setdefault(current, []).append([start, start + count - 1])

run = set()
for path in changed:
    if path.endswith(".cpp"):
        if path in sources:
            run.add(path)
        continue
    own = path[:-2] + ".cpp"
    if own in sources:
        run.add(own)
        continue
    name = re.escape(os.path.basename(path))
    pattern = re.compile(r'#include\s+"(?:[\w/]*/)?' + name + '"')
    for source in sources:
        try:
            if pattern.search(open(source, encoding="utf-8", errors="replace").read()):
                run.add(source)
                break
        except OSError:
            pass

headers = [{"name": p, "lines": l} for p, l in sorted(changed.items()) if not p.endswith(".cpp")]
for source in sorted(run):
    own = [{"name": source, "lines": changed[source]}] if source in changed else []
    print(source + "\t" + json.dumps(own + headers))
