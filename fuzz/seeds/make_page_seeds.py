#!/usr/bin/env python3
"""Writes page snapshots of demo pages in the browser snapshot's JSON form, as
seeds for fuzz_page_parse. An approximation of what the engine reports (text
squeezed, attributes as written), close enough to reach every rule.
  make_page_seeds.py DEMO_SITE OUT_FOLDER BASE_URL PAGE..."""
import html.parser
import json
import os
import sys

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "param", "source", "track", "wbr"}
HEAVY = {"A", "H3"}


class Snapshot(html.parser.HTMLParser):
    def __init__(self, url):
        super().__init__(convert_charrefs=True)
        self.url, self.els, self.stack, self.counters = url, [], [], {}

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        up = tag.upper()
        idx = self.counters.get(up, 0)
        self.counters[up] = idx + 1
        rec = {"t": up, "i": idx}
        for key, name in (("c", "class"), ("id", "id"), ("ti", "title"), ("n", "name"),
                          ("ty", "type"), ("v", "value"), ("co", "content"),
                          ("he", "http-equiv")):
            if a.get(name):
                rec[key] = a[name]
        if up in ("A", "AREA") and a.get("href"):
            href = a["href"]
            rec["hr"] = href if href.strip().lower().startswith("javascript:") or "://" in href \
                else self.url.rsplit("/", 1)[0] + "/" + href.lstrip("/")
        if "checked" in a:
            rec["ck"] = True
        for open_ in self.stack:
            open_[1].append(self.get_starttag_text())
        self.els.append(rec)
        if tag in VOID:
            rec["e"] = len(self.els)
        else:
            self.stack.append((rec, [], []))

    def handle_endtag(self, tag):
        for k in range(len(self.stack) - 1, -1, -1):
            if self.stack[k][0]["t"] == tag.upper():
                while len(self.stack) > k:
                    rec, inner, text = self.stack.pop()
                    rec["e"] = len(self.els)
                    if rec["t"] in HEAVY:
                        rec["x"] = " ".join("".join(text).split())
                        rec["h"] = "".join(inner)
                    for open_ in self.stack:
                        open_[1].append("".join(inner) + "</%s>" % rec["t"].lower())
                        open_[2].extend(text)
                break

    def handle_data(self, data):
        for open_ in self.stack:
            open_[1].append(data)
            open_[2].append(data)


def main():
    site, out, base = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    for page in sys.argv[4:]:
        url = base + "/" + page
        parser = Snapshot(url)
        with open(os.path.join(site, page), encoding="utf-8") as f:
            parser.feed(f.read())
        parser.close()
        for rec, _, _ in parser.stack:
            rec["e"] = len(parser.els)
        name = page.replace("/", "_")
        with open(os.path.join(out, name + ".json"), "w", encoding="utf-8") as f:
            json.dump({"url": url, "frame": False, "els": parser.els}, f, ensure_ascii=False,
                      separators=(",", ":"))


main()
