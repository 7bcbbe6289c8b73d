#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Reader of ppd/strings.tsv, the driver's table of translations: one row per
English text, one column per language (its header names the CUPS locale,
e.g. zh_CN).  The PPD generator and the printer application's string
generator import it."""
import unicodedata

from lumora_models import tsv_rows


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


def read_table(path, first, check_text):
    """Rows of a tab-separated table whose header starts with FIRST, then
    one column per language: (languages, [(key, {language: text})]).
    check_text(path, lineno, text) vets every cell of the rows."""
    header, rows, keys = None, [], set()
    for lineno, cols in tsv_rows(path):
        if header is None:
            if cols[0] != first or len(cols) < 2:
                raise SystemExit(f"{path}:{lineno}: the header must be {first}<TAB>LANGUAGE...")
            header = cols[1:]
            continue
        if len(cols) != len(header) + 1:
            raise SystemExit(f"{path}:{lineno}: expected {len(header) + 1} columns")
        for text in cols:
            check_text(path, lineno, text)
        if cols[0] in keys:
            raise SystemExit(f"{path}:{lineno}: {cols[0]!r} is in the table twice")
        keys.add(cols[0])
        rows.append((cols[0], dict(zip(header, cols[1:]))))
    if header is None:
        raise SystemExit(f"{path}: no header line")
    return header, rows


def load_strings(path):
    languages, rows = read_table(path, "en", _check_text)
    return Strings(languages, dict(rows))
