#!/usr/bin/env python3
"""Writes the offline demo site into demo/site/: three result pages linked by
"next >", a page in the SSL-VPN gateway form, publisher landing pages (one for
each publisher rule, and the awkward kinds: redirects, a refresh, frames, a page
that never finishes), their PDFs and the pictures, fonts and style sheets that
publishers' pages carry."""
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
</style>
<script>function openFullText(path) {{ location.href = path; }}</script></head><body>
<div class="top">Engineering Village (demo) &mdash; Quick Search</div>
<div class="wrap">
"""

def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")

def landing(n):
    """The full-text link path of record n (what its result block points to)."""
    return LANDINGS[n]["link"]

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
        if page == 0:
            body.append('<p><a href="members.html">Members-only papers (sign-in needed)</a></p>\n')
        for i in range(per_page):
            n = page * per_page + i + 1
            href = f"javascript:openFullText('{landing(n)}')"
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
        write(f"gw/,DanaInfo=www.engineeringvillage.com+paper{n}.html",
              f'<html><head><meta http-equiv="refresh" content="0; url={landing(n)}"></head>'
              f"<body>Redirecting through the gateway...</body></html>\n")

# What each record's full-text link leads to: one landing page per publisher
# rule (both markers of the Japanese societies' rule), pages with and without
# citation_pdf_url, a redirect chain, a refresh, a frame page and a page that
# never finishes loading. "page" is the landing page file, "pdf" its PDF.
def anchor(href, text, attrs=""):
    return f'<a href="{href}"{attrs}>{text}</a>'

LANDINGS = {
    1: dict(link="/link.springer.com/article/10.1007/s0001.html", pdf="/link.springer.com/pdf/0001.pdf",
            a=lambda p: anchor(p, '<span class="c-pdf-download__text">Download PDF</span>'
                                  '<span class="download-pdf-size">(1.2 MB)</span>')),
    2: dict(link="/onlinelibrary.wiley.com/doi/full/10.1002/w0002.html", pdf="/onlinelibrary.wiley.com/pdf/0002.pdf",
            a=lambda p: anchor(p, "Get PDF (123K)", ' title="Article in pdf format"')),
    3: dict(link="/pubs.acs.org/doi/abs/10.1021/a0003.html", pdf="/pubs.acs.org/pdf/0003.pdf",
            a=lambda p: anchor(p, "PDF (2 MB)", ' title="High-Res PDF"')),
    4: dict(link="/www.sciencedirect.com/science/article/pii/S0004.html", pdf="/www.sciencedirect.com/pdf/0004.pdf",
            a=lambda p: anchor(p, "Download PDF (1 MB)", ' title="Download PDF"')),
    5: dict(link="/www.jstage.jst.go.jp/article/jie/95/5/95_5/_article.html",
            pdf="/www.jstage.jst.go.jp/article/jie/95/5/95_5/_pdf",
            a=lambda p: anchor(p, "本文PDF [1104K]")),
    6: dict(link="/journal.scej.org/article/kakoronbunshu/46/1/46_6/_article.html",
            pdf="/journal.scej.org/article/kakoronbunshu/46/1/46_6/_pdf",
            a=lambda p: anchor(p, "Full Text PDF [856K]")),
    7: dict(link="/kns.cnki.net/kcms/detail/X0007.html", pdf="/kns.cnki.net/kcms/download.aspx",
            href="/kns.cnki.net/kcms/download.aspx?filename=X0007&amp;dflag=pdfdown",
            a=lambda p: anchor(p, "PDF下载", ' class="btn-dlpdf"')),
    # ScienceDirect with citation metadata as well: the metadata has the last word.
    8: dict(link="/www.sciencedirect.com/science/article/pii/S0008.html", pdf="/www.sciencedirect.com/pdf/0008.pdf",
            href="/www.sciencedirect.com/science/article/pii/S0008/pdfft?md5=x&amp;pid=1",
            meta=True,
            a=lambda p: anchor(p, "Download full text in PDF", ' title="Download full text in PDF"')),
    9: dict(link="/link.springer.com/article/10.1007/s0009.html", pdf="/link.springer.com/pdf/0009.pdf",
            a=lambda p: anchor(p, '<span>Download PDF</span><span class="download-pdf-size">(640 KB)</span>')),
    10: dict(link="/d.wanfangdata.com.cn/periodical/X0010.html", pdf="/f.wanfangdata.com.cn/download/X0010.pdf",
             a=lambda p: anchor(p, '<i class="icon icon-download"></i>下载', ' title="下载全文"')),
    11: dict(link="/jes.ecsdl.org/content/166/X0011.html", pdf="/jes.ecsdl.org/content/166/X0011.full.pdf",
             a=lambda p: anchor(p, "Full Text (PDF)")),
    12: dict(link="/iopscience.iop.org/article/10.1088/X0012.html", pdf="/iopscience.iop.org/article/10.1088/X0012/pdf",
             a=lambda p: anchor(p, "Article PDF", ' class="btn btn-default pdf-button-main"')),
    13: dict(link="/www.maneyonline.com/doi/abs/10.1179/X0013.html", pdf="/www.maneyonline.com/doi/pdf/10.1179/X0013",
             a=lambda p: anchor(p, '<img src="/assets/pdfDownload.png" alt="">')),
    14: dict(link="/www.hindawi.com/journals/jnm/2016/X0014.html", pdf="/downloads.hindawi.com/journals/jnm/2016/X0014.pdf",
             a=lambda p: anchor(p, "Full-Text PDF", ' class="full_text_pdf"')),
    15: dict(link="/www.nejm.org/doi/full/10.1056/X0015.html", pdf="/www.nejm.org/doi/pdf/10.1056/X0015",
             a=lambda p: anchor(p, "PDF", ' class="zone-tool-articlePDF"')),
    16: dict(link="/science.sciencemag.org/content/352/X0016.html", pdf="/science.sciencemag.org/content/352/X0016.full.pdf",
             a=lambda p: anchor(p, "Full Text (PDF)")),
    # A publisher without a rule: only the citation metadata tells.
    17: dict(link="/www.mdpi.com/journal/X0017.html", pdf="/www.mdpi.com/pdf/X0017.pdf", meta=True,
             a=lambda p: anchor(p, "Download PDF")),
    # A publisher without a rule and without metadata: the record fails.
    18: dict(link="/www.example-press.org/article/X0018.html", pdf=None,
             a=lambda p: anchor("/www.example-press.org/article/X0018/download", "PDF")),
    # Behind a chain of HTTP redirects (see .routes) to ScienceDirect.
    19: dict(link="/linkinghub.elsevier.com/retrieve/pii/S0019",
             page="/www.sciencedirect.com/science/article/pii/S0019.html", pdf="/www.sciencedirect.com/pdf/0019.pdf",
             a=lambda p: anchor(p, "Download PDF", ' title="Download PDF"')),
    # A frame page: its metadata is read, its frames' scripts cannot move it.
    20: dict(link="/www.tandfonline.com/doi/full/X0020.html", pdf="/www.tandfonline.com/doi/pdf/X0020.pdf",
             frames=True),
    # A page that never finishes loading (see .routes): read as far as it came.
    21: dict(link="/iopscience.iop.org/article/10.1088/slow0021",
             page="/iopscience.iop.org/article/10.1088/slow0021.html", pdf="/iopscience.iop.org/article/10.1088/X0021/pdf",
             stall=True,
             a=lambda p: anchor(p, "Article PDF", ' class="btn btn-default pdf-button-main"')),
    # A refresh that leads on to the publisher's page.
    22: dict(link="/dx.doi.org/10.1021/X0022.html", refresh="/pubs.acs.org/doi/abs/10.1021/a0022.html",
             page="/pubs.acs.org/doi/abs/10.1021/a0022.html", pdf="/pubs.acs.org/pdf/0022.pdf",
             a=lambda p: anchor(p, "PDF (3 MB)", ' title="High-Res PDF"')),
    # Text with a no-break space and a line break, as the engine reports some pages.
    23: dict(link="/onlinelibrary.wiley.com/doi/full/10.1002/w0023.html", pdf="/onlinelibrary.wiley.com/pdf/0023.pdf",
             a=lambda p: anchor(p, "Get&nbsp;PDF<br>(98K)", ' title="Article in PDF format"')),
    24: dict(link="/www.sciencedirect.com/science/article/pii/S0024.html", pdf="/www.sciencedirect.com/pdf/0024.pdf",
             a=lambda p: anchor(p, "Download PDF (2 MB)", ' title="Download PDF"')),
}

# What a publisher's page carries besides its links: style sheets, web fonts and
# figures. The hidden browser refuses them; a visible browser loads them all.
ASSETS_HEAD = ('<link rel="stylesheet" href="/assets/journal.css">'
               '<link rel="stylesheet" href="/assets/print.css">')

def figures(n):
    return "".join(f'<p><img src="/assets/figure{k}.png?doc={n}" width="420" alt="Figure {k}"></p>'
                   for k in range(1, 4))

def landing_page(n, spec):
    title = escape(TITLES[n - 1])
    head = f'<meta charset="utf-8"><title>{title}</title>{ASSETS_HEAD}'
    if spec.get("meta"):
        head += f'<meta name="citation_pdf_url" content="{spec["pdf"]}">'
    body = (f'<div class="masthead">Demo Publisher</div><h1>{title}</h1>'
            f'<p class="abstract">Abstract of demo paper {n}. ' + "Lorem ipsum dolor sit amet. " * 20 + "</p>")
    body += f'<p class="tools">{spec["a"](spec.get("href", spec["pdf"]))}</p>'
    if spec.get("stall"):
        # The server sends the page up to here, then nothing more.
        body += "<!--stall-->"
    body += figures(n) + "<p>References ...</p>"
    return f"<!DOCTYPE html><html><head>{head}</head><body>{body}</body></html>\n"

def frame_page(n, spec):
    title = escape(TITLES[n - 1])
    base = spec["link"].rsplit("/", 1)[0]
    write(base.lstrip("/") + f"/X{n:04d}-nav.html",
          '<html><body><a href="/abstract.html" target="_top">Home</a></body></html>\n')
    write(base.lstrip("/") + f"/X{n:04d}-body.html",
          f"<html><body><h1>{title}</h1><a href=\"{spec['pdf']}\">PDF</a>"
          "<script>setTimeout(function () { top.location.href = '/nowhere.html'; }, 50);</script>"
          "</body></html>\n")
    return (f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>{title}</title>'
            f'<meta name="citation_pdf_url" content="{spec["pdf"]}"></head>'
            f'<frameset rows="60,*"><frame src="{base}/X{n:04d}-nav.html">'
            f'<frame src="{base}/X{n:04d}-body.html"></frameset></html>\n')

def noise_png(width, height, seed):
    """A figure that does not compress: what a page's pictures cost to load."""
    import random, struct
    rng = random.Random(seed)
    rows = b"".join(b"\x00" + bytes(rng.getrandbits(8) for _ in range(width * 3)) for _ in range(height))
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))

def assets():
    import random
    rng = random.Random(7)
    for k in range(1, 4):
        full = os.path.join(SITE, "assets", f"figure{k}.png")
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(noise_png(300, 200, k))
    # Web fonts: opaque bytes here, fetched like any font file.
    for name in ("serif", "sans", "mono"):
        with open(os.path.join(SITE, "assets", f"{name}.woff2"), "wb") as f:
            f.write(bytes(rng.getrandbits(8) for _ in range(96 * 1024)))
    faces = "".join(f"@font-face {{ font-family: 'Demo {n}'; src: url('/assets/{n}.woff2') format('woff2'); }}\n"
                    for n in ("serif", "sans", "mono"))
    rules = "".join(f".c{i} {{ margin: {i % 7}px; padding: {i % 5}px; color: #{i * 2654435761 % 0xFFFFFF:06x}; }}\n"
                    for i in range(4000))
    write("assets/journal.css", faces +
          "body { font-family: 'Demo sans', sans-serif; margin: 0 auto; max-width: 760px; }\n"
          "h1 { font-family: 'Demo serif', serif; } .tools { font-family: 'Demo mono', monospace; }\n"
          ".masthead { background: #334; color: white; padding: 8px; }\n" + rules)
    write("assets/print.css", "@media print { body { color: black; } }\n" + rules)
    with open(os.path.join(SITE, "assets", "pdfDownload.png"), "wb") as f:
        f.write(tiny_png())

def publisher_pages():
    routes = []
    for n, spec in LANDINGS.items():
        page = spec.get("page", spec["link"])
        if spec.get("frames"):
            write(page.lstrip("/"), frame_page(n, spec))
        else:
            write(page.lstrip("/"), landing_page(n, spec))
        if spec.get("refresh"):
            write(spec["link"].lstrip("/"),
                  f'<html><head><meta http-equiv="refresh" content="0; url={spec["refresh"]}"></head>'
                  f"<body>Redirecting to the publisher...</body></html>\n")
        if spec.get("stall"):
            routes.append(f"stall {spec['link']} {page}")
        if spec["pdf"]:
            write_pdf(spec["pdf"].lstrip("/"), f"Demo paper {n}")
    # Record 19: two hops before the publisher's page.
    routes.append("redirect 302 /linkinghub.elsevier.com/retrieve/pii/S0019 /doi.org/10.1016/S0019")
    routes.append("redirect 301 /doi.org/10.1016/S0019 /www.sciencedirect.com/science/article/pii/S0019.html")
    routes += members_area()
    write(".routes", "# Routes the static files cannot express (read by the test server and the benchmark):\n"
          "#   redirect STATUS FROM TO   answer FROM with STATUS and Location: TO\n"
          "#   stall FROM FILE           send FILE up to its <!--stall--> mark, then nothing, open\n"
          "#   login FROM COOKIE PAGE [FIELD...]  a sign-in: with every FIELD filled, set COOKIE, show PAGE\n"
          "#   gated FROM FILE COOKIE PAGE        FILE for a request with COOKIE, else the login PAGE\n"
          + "".join(r + "\n" for r in routes))

# A members-only paper: its PDF address gives the publisher's sign-in page until
# the browser has signed in (account form or IP sign-in), so the download window's
# site login can be tried. Follow "Members-only papers" on the first result page,
# analyse the record, and set the login pane to /login/index.html (any account and
# password) or, with "IP登录", to /login/ip.html.
MEMBERS_COOKIE = "demosession=member"
MEMBERS_PDF = "/www.sciencedirect.com/pdf/members/0025.pdf"

def members_area():
    title = "Members-only demo paper: sign in to download"
    write("members.html", HEAD.format(title="Search results (members)") +
          "<p>Results 1-1 of 1</p>\n" +
          result_block(25, title, False,
                       "javascript:openFullText('/www.sciencedirect.com/science/article/pii/S0025.html')") +
          "</div></body></html>\n")
    link = anchor(MEMBERS_PDF, "Download PDF", ' title="Download PDF"')
    write("www.sciencedirect.com/science/article/pii/S0025.html",
          f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>{title}</title></head><body>'
          f'<div class="masthead">Demo Publisher</div><h1>{title}</h1>'
          f'<p class="tools">{link}</p>'
          "</body></html>\n")
    form_style = ("<style>body { font-family: sans-serif; margin: 40px; } form { border: 1px solid #ccd; "
                  "padding: 16px; width: 320px; } label { display: block; margin: 8px 0; }</style>")
    write("login/index.html",
          f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>Demo Publisher - Sign in</title>{form_style}</head>'
          "<body><h1>Sign in</h1><p>Members only. Any account and password will do.</p>"
          '<form method="post" action="/login/submit">'
          '<label>Account <input type="text" name="UserName"></label>'
          '<label>Password <input type="password" name="PassWord"></label>'
          '<input type="submit" value="Sign in"></form>'
          '<p><a href="/login/ip.html">Sign in through your institution (IP)</a></p></body></html>\n')
    write("login/ip.html",
          f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>Demo Publisher - Institutional sign-in</title>{form_style}</head>'
          "<body><h1>Institutional sign-in</h1><p>Your institution's network is recognised.</p>"
          '<form method="post" action="/login/ipsubmit">'
          '<input type="submit" id="submitip" value="Sign in via my institution"></form></body></html>\n')
    write("login/welcome.html",
          '<!DOCTYPE html><html><head><meta charset="utf-8"><title>Demo Publisher - Signed in</title></head>'
          "<body><h1>You are signed in</h1><p>Members-only papers can now be downloaded.</p></body></html>\n")
    write_pdf("members/0025.pdf", "Demo paper 25 (members only)")
    return [f"login /login/submit {MEMBERS_COOKIE} /login/welcome.html username password",
            f"login /login/ipsubmit {MEMBERS_COOKIE} /login/welcome.html",
            f"gated {MEMBERS_PDF} /members/0025.pdf {MEMBERS_COOKIE} /login/index.html"]

def main():
    import shutil
    if os.path.isdir(SITE):
        shutil.rmtree(SITE)
    result_pages()
    gateway_page()
    publisher_pages()
    assets()
    with open(os.path.join(SITE, "fulltext.png"), "wb") as f:
        f.write(tiny_png())
    write("abstract.html", "<html><head><title>Abstract</title></head><body>Abstract</body></html>\n")
    write("detailed.html", "<html><head><title>Detailed</title></head><body>Detailed record</body></html>\n")
    write("nowhere.html", "<html><head><title>Nowhere</title></head><body>Nothing here</body></html>\n")

if __name__ == "__main__":
    main()
