#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""What a reader of a web page sees, checked for words the page must not show.

  page_words.py LANGUAGE NAMES WANTED PAGE.html

PAGE.html is the page as the browser built it (chromium --dump-dom); the
text checked is everything a reader sees: text, the labels of buttons, the
choices of menus, placeholders and the title.  NAMES (;-separated) are
names a user or the model gave (printer, server and model names) and are
taken out first.  Faults reported, one a line, exit status 1:
  - raw keywords: the vendor option names, attribute names with a colon
    (media:, orientation-requested:), bare printer-state numbers, sizes with
    rounding noise (3.8748 x 7.5");
  - for zh-*: any English word but the names that are English in Chinese
    too (A4, Letter, ISO B5, PDF, dpi, ...);
  - any text of WANTED (;-separated) missing.
"""
import html.parser
import re
import sys

# Names that stay in Latin letters in Chinese: paper names and units.
LATIN_IN_CHINESE = {
    "A", "B", "C", "K", "DL", "ZL", "JIS", "ISO", "Letter", "Legal", "Executive", "Statement",
    "Folio", "Oficio", "Monarch", "dpi", "DPI", "PDF", "x", "Lumora", "IPP", "Wi-Fi", "DNS-SD",
}

RAW = [
    (r"\b(toner-save|fine-mode|negative-print|rotate-180|a5-long-edge-feed)\b", "vendor keyword"),
    (r"(?<![\w-])[a-z]+(-[a-z0-9]+)*:(?!//)", "attribute name"),
    (r"(?m)^\s*[3-5]\s*[,，]", "bare state number"),
    (r"\d+\.\d{3,}", "rounding noise"),
    (r"\d x \d+(\.\d+)?\"", "inch dimensions"),
]


class Visible(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.parts, self.skip = [], 0

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag in ("script", "style"):
            self.skip += 1
        elif tag == "input" and a.get("type") in ("submit", "button", "reset") and a.get("value"):
            self.parts.append(a["value"])
        if a.get("placeholder"):
            self.parts.append(a["placeholder"])
        if tag in ("br", "p", "div", "tr", "h1", "h2", "h3", "option", "li", "td", "th"):
            self.parts.append("\n")

    def handle_endtag(self, tag):
        if tag in ("script", "style"):
            self.skip -= 1

    def handle_data(self, data):
        if not self.skip:
            self.parts.append(data)


def visible_text(path):
    v = Visible()
    with open(path, encoding="utf-8") as f:
        v.feed(f.read())
    return "".join(v.parts)


def faults(language, names, wanted, text):
    out = []
    for want in wanted:
        if want not in text:
            out.append(f"missing {want!r}")
    for name in sorted(names, key=len, reverse=True):
        text = text.replace(name, " ")
    for pattern, what in RAW:
        for m in re.finditer(pattern, text):
            out.append(f"{what}: {m.group(0).strip()!r}")
    if language.startswith("zh"):
        for word in sorted(set(re.findall(r"[A-Za-z][A-Za-z-]*", text))):
            if word not in LATIN_IN_CHINESE:
                out.append(f"English word: {word!r}")
    return out


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    split = lambda s: [w for w in s.split(";") if w]  # noqa: E731
    found = faults(argv[1], split(argv[2]), split(argv[3]), visible_text(argv[4]))
    for f in found:
        print(f)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
