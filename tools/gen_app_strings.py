#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Strings files of lumora-printer-app, one per language it serves.

  gen_app_strings.py MODELS.tsv APP.tsv PAPPL.tsv FIXED.tsv OUT_FILE

writes OUT_FILE (C++ rows, included by printer_app/app_strings.cpp): for
each language the text of a strings file ("key" = "text"; as PAPPL and
IPP clients read them), which the application registers with PAPPL; PAPPL
localizes its web pages with it and publishes it as printer-strings-uri.

A file holds, in this order (the first text of a key wins):
  - the application's own keys (APP.tsv: vendor options and their values,
    its messages) and the paper sizes and sources of the PPDs
    (media.<PWG name>, media-source.<keyword>), translated through the
    driver's table ppd/strings.tsv (read from beside MODELS.tsv);
  - the catalog of PAPPL's web pages (PAPPL.tsv: PAPPL's key, then one
    column per language), which PAPPL 1.3.1 lacks for Chinese.
English is served too (PAPPL knows its own English texts, not ours).  The
languages are English and every column of PAPPL.tsv; a language whose
table lacks a text of the application is an error.  The page footer's text
(FOOTER) also carries, per language, a script that translates the texts
PAPPL writes without a key (FIXED.tsv).
"""
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_app_drivers import PWG_NAMES, SOURCES  # noqa: E402
from gen_ppd import INPUT_SLOTS, PAPER_TEXT, strings_beside  # noqa: E402
from lumora_models import write_if_changed  # noqa: E402


def read_table(path, first):
    """Rows of a tab-separated table whose header starts with FIRST:
    (languages, [(key, {language: text})])."""
    header, rows, keys = None, [], set()
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cols = line.split("\t")
            if header is None:
                if cols[0] != first or len(cols) < 2:
                    raise SystemExit(f"{path}:{lineno}: the header must be {first}<TAB>LANGUAGE...")
                header = cols[1:]
                continue
            if len(cols) != len(header) + 1 or not all(cols):
                raise SystemExit(f"{path}:{lineno}: expected {len(header) + 1} non-empty columns")
            if cols[0] in keys:
                raise SystemExit(f"{path}:{lineno}: {cols[0]!r} is in the table twice")
            keys.add(cols[0])
            rows.append((cols[0], dict(zip(header, cols[1:]))))
    if header is None:
        raise SystemExit(f"{path}: no header line")
    return header, rows


def app_texts(app_rows):
    """(key, English) of everything the application names itself."""
    texts = [(key, row["en"]) for key, row in app_rows]
    for name, text in PAPER_TEXT.items():
        texts.append((f"media.{PWG_NAMES[name]}", text))
    for choice, text, _ in INPUT_SLOTS:
        texts.append((f"media-source.{SOURCES[choice]}", text))
    return texts


# The footer of every page (kFooterHtml of app_strings.h): a key of APP.tsv.
FOOTER = "Lumora printer application"


def fixing_script(fixed_rows, locale):
    """A script putting the page's text nodes that hold exactly one of
    PAPPL's fixed texts into the language."""
    table = json.dumps({text: row[locale] for text, row in fixed_rows} if locale else {},
                       ensure_ascii=False)
    return ("<script>(function(){var m=" + table + ",w=document.createTreeWalker("
            "document.body,NodeFilter.SHOW_TEXT),n,t;while((n=w.nextNode())){t=n.nodeValue.trim();"
            "if(Object.prototype.hasOwnProperty.call(m,t))n.nodeValue=m[t];}"
            # Identify-Printer reaches no printer: not offered on the page.
            "document.querySelectorAll('input[value=identify-printer]')"
            ".forEach(function(e){e.form.remove();});})();</script>")


def ipp_language(locale):
    """The IPP language tag of a CUPS locale name: zh_CN -> zh-cn."""
    return locale.replace("_", "-").lower()


def quote(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def strings_file(pairs):
    return "".join(f"{quote(k)} = {quote(v)};\n" for k, v in pairs)


def build(models_path, app_path, pappl_path, fixed_path):
    """[(IPP language, strings file text)], the generic language of each
    regional one following it (zh after zh-cn) when no column names it."""
    strings = strings_beside(models_path)
    _, app_rows = read_table(app_path, "key")
    languages, web_rows = read_table(pappl_path, "key")
    _, fixed_rows = read_table(fixed_path, "text")
    texts = app_texts(app_rows)
    if FOOTER not in dict(texts):
        raise SystemExit(f"{app_path} has no row for the footer {FOOTER!r}")
    out = [("en", strings_file([(k, v + fixing_script(fixed_rows, None) if k == FOOTER else v)
                                for k, v in texts]))]
    for locale in languages:
        if locale not in strings.languages:
            raise SystemExit(f"ppd/strings.tsv has no column {locale}")
        pairs = [(key, strings.tr(text, locale)) for key, text in texts]
        pairs = [(k, v + fixing_script(fixed_rows, locale) if k == FOOTER else v) for k, v in pairs]
        pairs += [(key, row[locale]) for key, row in web_rows]
        out.append((ipp_language(locale), strings_file(pairs)))
    for tag, text in list(out):
        base = tag.split("-")[0]
        if base != tag and all(t != base for t, _ in out):
            out.append((base, text))
    return out


def main(argv):
    if len(argv) != 6:
        sys.stderr.write(__doc__)
        return 2
    files = build(argv[1], argv[2], argv[3], argv[4])
    delim = "LUMORA_STRINGS"
    lines = ["// Generated by tools/gen_app_strings.py from printer_app/strings/ and "
             "ppd/strings.tsv; do not edit."]
    for tag, text in files:
        if f"){delim}" in text:
            raise SystemExit("a text holds the raw string delimiter")
        lines.append(f'    {{"{tag}", R"{delim}({text}){delim}"}},')
    os.makedirs(os.path.dirname(os.path.abspath(argv[5])), exist_ok=True)
    write_if_changed(argv[5], "\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
