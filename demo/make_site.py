#!/usr/bin/env python3
"""Writes the offline demo site into demo/site/: three result pages linked by
"next >", a page in the SSL-VPN gateway form, publisher landing pages and PDFs."""
import os
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SITE = os.path.join(HERE, "site")

TITLES = [
    "Heat transfer enhancement in micro-channel heat sinks with H<inf>2</inf>O based nanofluids",
    "A review of lithium-ion battery state of charge estimation methods",
    "Finite element analysis of composite laminates under low-velocity impact",
    "Catalytic CO<inf>2</inf> hydrogenation to methanol over Cu/ZnO catalysts",
    "Deep learning for surface defect detection in steel strips",
    "Fatigue crack growth in additively manufactured Ti-6Al-4V",
    "Model predictive control of grid-connected photovoltaic inverters",
    "Thermal conductivity of graphene<sup>*</sup> reinforced polymer composites",
    "Corrosion behaviour of duplex stainless steel in chloride solutions",
    "Optimal placement of distributed generation in radial networks",
    "Vibration-based damage identification of bridge structures",
    "Microstructure evolution of Al-Si alloys during semi-solid processing",
    "Life cycle assessment of concrete with recycled aggregates",
    "Wind turbine wake modelling with large eddy simulation",
    "Electrospun nanofibre membranes for oil-water separation",
    "Fault diagnosis of rolling bearings using envelope spectra",
    "Hydrogen embrittlement of high-strength pipeline steels",
    "Soil-structure interaction of pile foundations under seismic loading",
    "Energy management of hybrid electric vehicles by dynamic programming",
    "Laser powder bed fusion of nickel superalloys: process windows",
    "Adsorption of heavy metals on modified biochar",
    "Reliability analysis of offshore jacket platforms",
    "Friction stir welding of dissimilar aluminium alloys",
    "Cooling strategies for high-power LED modules",
]

PUBLISHERS = [
    ("www.sciencedirect.com", "science/article/pii/S{n:04d}", "sciencedirect"),
    ("link.springer.com", "article/10.1007/s{n:04d}", "springer"),
    ("onlinelibrary.wiley.com", "doi/full/10.1002/w{n:04d}", "wiley"),
    ("pubs.acs.org", "doi/abs/10.1021/a{n:04d}", "acs"),
]

HEAD = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title>
<style>
body {{ font-family: sans-serif; margin: 0; background: #f4f6f8; }}
.top {{ background: #1c5478; color: white; padding: 10px 16px; font-size: 20px; }}
.wrap {{ padding: 8px 16px; }}
.result {{ background: white; border: 1px solid #d8dee4; margin: 6px 0; padding: 6px 10px; }}
.odd {{ background: #f9fbfc; }}
.result h3 {{ margin: 4px 0; font-size: 15px; color: #1c5478; }}
.links a {{ margin-right: 12px; font-size: 13px; }}
.pager {{ margin: 12px 0; font-size: 14px; }}
</style></head><body>
<div class="top">Engineering Village (demo) &mdash; Quick Search</div>
<div class="wrap">
"""

def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")

def landing(n):
    host, path, kind = PUBLISHERS[n % len(PUBLISHERS)]
    return host, path.format(n=n), kind

def result_block(n, title, odd, href):
    cls = "result odd" if odd else "result"
    return f"""<div class="{cls}">
  <input type="checkbox" name="selectrecord" value="{n}">
  <a href="abstract.html?doc={n}">Abstract</a>
  <h3>{escape(title)}</h3>
  <div class="links"><a href="detailed.html?doc={n}">Detailed</a>
  <a href="{href}" title="Full text"><img src="fulltext.png" alt="" width="16" height="16" style="vertical-align: middle"></a></div>
  <div>Source: Demo Journal of Engineering, vol. {n}, 2026</div>
</div>
"""

def write(path, text):
    full = os.path.join(SITE, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)

def tiny_pdf(text):
    stream = f"BT /F1 18 Tf 72 720 Td ({text}) Tj ET".encode()
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length " + str(len(stream)).encode() + b" >>\nstream\n" + stream + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = b"%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += f"{i} 0 obj\n".encode() + body + b"\nendobj\n"
    xref = len(out)
    out += f"xref\n0 {len(objs) + 1}\n0000000000 65535 f \n".encode()
    for off in offsets:
        out += f"{off:010d} 00000 n \n".encode()
    out += f"trailer\n<< /Size {len(objs) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return out

def tiny_png(width=16, height=16):
    """A red page with a white band: the full-text icon."""
    import struct
    rows = b""
    for y in range(height):
        row = b"\x00"
        for x in range(width):
            band = 6 <= y <= 9 and 2 <= x <= 13
            row += b"\xff\xff\xff" if band else b"\xc8\x28\x28"
        rows += row
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))

def write_pdf(path, text):
    full = os.path.join(SITE, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(tiny_pdf(text))

def result_pages():
    per_page = 8
    for page in range(3):
        body = [HEAD.format(title=f"Search results - page {page + 1}")]
        body.append(f"<p>Results {page * per_page + 1}-{page * per_page + per_page} of 24</p>\n")
        for i in range(per_page):
            n = page * per_page + i + 1
            host, path, _ = landing(n)
            href = f"javascript:openFullText('/{host}/{path}.html')"
            body.append(result_block(n, TITLES[n - 1], i % 2 == 1, href))
        # Look-alikes the parser must pass over.
        body.append('<div class="result extra"><input type="checkbox"><a href="#">x</a><h3>Not a hit'
                    '</h3><a title="Full text" href="javascript:openFullText(\'/nowhere.html\')"></a></div>\n')
        body.append('<div class="result"><a href="#">x</a><h3>A block without a check box</h3>'
                    '<a title="Full text" href="javascript:openFullText(\'/nowhere.html\')"></a></div>\n')
        body.append('<div class="pager">')
        if page > 0:
            prev = "index.html" if page == 1 else f"page{page}.html"
            body.append(f'<a href="{prev}">&lt; previous</a> ')
        body.append('<a href="#">next&gt;</a> ')
        if page < 2:
            body.append(f'<a href="page{page + 2}.html"> Next &gt; </a>')
        body.append("</div>\n</div></body></html>\n")
        write("index.html" if page == 0 else f"page{page + 1}.html", "".join(body))

def gateway_page():
    body = [HEAD.format(title="Search results (gateway)")]
    body.append("<p>Reached through the SSL-VPN gateway</p>\n")
    for i, n in enumerate((1, 2)):
        href = (f"javascript:DanaMethodOpen('open',window,'/gw/paper{n}.html?doc={n}&amp;src=ev')")
        body.append(result_block(n, TITLES[n - 1], i % 2 == 1, href))
    body.append("</div></body></html>\n")
    write("gateway.html", "".join(body))
    for n in (1, 2):
        host, path, _ = landing(n)
        write(f"gw/,DanaInfo=www.engineeringvillage.com+paper{n}.html",
              f'<html><head><meta http-equiv="refresh" content="0; url=/{host}/{path}.html"></head>'
              f"<body>Redirecting through the gateway...</body></html>\n")

def publisher_pages():
    for n in range(1, 25):
        host, path, kind = landing(n)
        pdf = f"/{host}/pdf/{n:04d}.pdf"
        if kind == "sciencedirect":
            anchor = f'<a href="{pdf}" title="Download PDF">Download PDF (1 MB)</a>'
        elif kind == "springer":
            anchor = f'<a href="{pdf}"><span class="download-pdf-size">Download PDF</span></a>'
        elif kind == "wiley":
            anchor = f'<a href="{pdf}" title="Article in pdf format">Get PDF (123K)</a>'
        else:
            anchor = f'<a href="{pdf}" title="High-Res PDF">PDF (2 MB)</a>'
        write(f"{host}/{path}.html",
              f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>{escape(TITLES[n - 1])}</title>'
              f"</head><body><h1>{escape(TITLES[n - 1])}</h1><p>Abstract of demo paper {n}.</p>"
              f"<p>{anchor}</p></body></html>\n")
        write_pdf(f"{host}/pdf/{n:04d}.pdf", f"Demo paper {n}")

def main():
    result_pages()
    gateway_page()
    publisher_pages()
    with open(os.path.join(SITE, "fulltext.png"), "wb") as f:
        f.write(tiny_png())
    write("abstract.html", "<html><head><title>Abstract</title></head><body>Abstract</body></html>\n")
    write("detailed.html", "<html><head><title>Detailed</title></head><body>Detailed record</body></html>\n")
    write("nowhere.html", "<html><head><title>Nowhere</title></head><body>Nothing here</body></html>\n")

if __name__ == "__main__":
    main()
