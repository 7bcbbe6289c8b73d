#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reader of ppd/strings.tsv, the driver's table of translations: one row per
English text, one column per language (its header names the CUPS locale,
e.g. zh_CN).  The PPD generator and the printer application's string
generator import it."""
import unicodedata


class Strings:
    def __init__(self, languages, rows):
        self.languages = languages  # the translated languages, e.g. ["zh_CN", "zh_TW"]
        self.rows = rows            # English text -> {language: text}
        self.used = set()

    def tr(self, text, language):
        """The text in the language; a text without a row is a fault of the
        table (every text the driver shows is translated)."""
        row = self.rows.get(text)
        if row is None:
            raise SystemExit(f"ppd/strings.tsv has no row for the text {text!r}")
        self.used.add(text)
        return row[language]


def _check_text(path, lineno, text):
    if not text or text != text.strip():
        raise SystemExit(f"{path}:{lineno}: empty text or stray blanks")
    for ch in text:
        if ch in '":' or unicodedata.category(ch)[0] == "C":
            raise SystemExit(f"{path}:{lineno}: {ch!r} cannot stand in a PPD text")


def load_strings(path):
    languages, rows = None, {}
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cols = line.split("\t")
            if languages is None:
                if cols[0] != "en" or len(cols) < 2:
                    raise SystemExit(f"{path}:{lineno}: the header must be en<TAB>LANGUAGE...")
                languages = cols[1:]
                continue
            if len(cols) != len(languages) + 1:
                raise SystemExit(f"{path}:{lineno}: expected {len(languages) + 1} columns")
            for text in cols:
                _check_text(path, lineno, text)
            if cols[0] in rows:
                raise SystemExit(f"{path}:{lineno}: {cols[0]!r} is in the table twice")
            rows[cols[0]] = dict(zip(languages, cols[1:]))
    if languages is None:
        raise SystemExit(f"{path}: no header line")
    return Strings(languages, rows)
