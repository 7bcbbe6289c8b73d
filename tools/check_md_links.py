#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Fails when a relative link or anchor in the tree's Markdown files is broken.

Every [text](target) and [name]: target outside code, whose target has no
URL scheme, must name a file or directory inside the tree; "#anchor" (alone
or after a .md file) must be a heading of that file, spelt as the usual
Markdown hosts spell heading anchors (lower case, punctuation dropped,
spaces as hyphens, "-1", "-2" for repeated headings) or an <a id=...>.

  check_md_links.py SOURCE_DIR    check the tree
  check_md_links.py --self-test   check the checker on broken examples
"""
import os
import re
import subprocess
import sys
import tempfile

SKIP_DIRS = {".git", "dist", "out"}
FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)(?:\s+#+)?\s*$")
INLINE_LINK = re.compile(r"\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REF_DEF = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s.*)?$")
HTML_ANCHOR = re.compile(r"<a\s+(?:id|name)=\"([^\"]+)\"")
CODE_SPAN = re.compile(r"(`+).*?\1")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def markdown_files(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "--cached", "--others",
                              "--exclude-standard", "*.md"], check=True,
                             capture_output=True, text=True).stdout
        return sorted(f for f in out.splitlines() if os.path.exists(os.path.join(root, f)))
    except (OSError, subprocess.CalledProcessError):
        found = []
        for top, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if d not in SKIP_DIRS and not d.startswith("build")]
            found += [os.path.relpath(os.path.join(top, n), root)
                      for n in names if n.endswith(".md")]
        return sorted(found)


def prose_lines(text):
    """(line number, line) outside fenced code blocks, code spans removed."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            fenced = not fenced
            continue
        if not fenced:
            yield number, line


def slug(heading):
    text = CODE_SPAN.sub(lambda m: m.group(0).strip("`"), heading)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)   # a link's text stays
    text = re.sub(r"<[^>]+>", "", text).strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors_of(text):
    anchors, seen = set(), {}
    for _, line in prose_lines(text):
        anchors.update(HTML_ANCHOR.findall(line))
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        anchors.add(base if count == 0 else f"{base}-{count}")
    return anchors


def links_of(text):
    """(line number, target) of every link; a link's text may span lines."""
    lines = {number: CODE_SPAN.sub("", line) for number, line in prose_lines(text)}
    last = max(lines, default=0)
    bare = "\n".join(lines.get(number, "") for number in range(1, last + 1))
    for match in INLINE_LINK.finditer(bare):
        yield bare.count("\n", 0, match.start(1)) + 1, match.group(1)
    for number, line in lines.items():
        match = REF_DEF.match(line)
        if match:
            yield number, match.group(1)


def check_link(root, rel, target, read):
    """An error text for one link of the file rel, or None."""
    if not target or SCHEME.match(target):
        return None
    path, _, anchor = target.partition("#")
    here = os.path.normpath(os.path.join(root, os.path.dirname(rel), path)) if path \
        else os.path.join(root, rel)
    if os.path.relpath(here, root).startswith(".."):
        return f"link '{target}' leaves the tree"
    if not os.path.exists(here):
        return f"link '{target}': no such file"
    if anchor and here.endswith(".md") and anchor not in anchors_of(read(here)):
        return f"link '{target}': no heading with the anchor '#{anchor}'"
    return None


def check_tree(root):
    root = os.path.abspath(root)
    cache = {}

    def read(path):
        if path not in cache:
            with open(path, encoding="utf-8") as f:
                cache[path] = f.read()
        return cache[path]

    errors = []
    for rel in markdown_files(root):
        for number, target in links_of(read(os.path.join(root, rel))):
            error = check_link(root, rel, target, read)
            if error:
                errors.append(f"{rel}:{number}: {error}")
    return errors


# Each case: files of a small tree, and how many broken links it holds.
SELF_TEST_CASES = [
    ({"a.md": "# Top\n[ok](b.md#the-b-part) [ok](#top) [web](https://x.invalid/)\n",
      "b.md": "## The `b` part\n"}, 0),
    ({"a.md": "[gone](missing.md)\n"}, 1),
    ({"a.md": "text [split over\ntwo lines](missing.md)\n"}, 1),
    ({"a.md": "[bad anchor](b.md#nowhere)\n", "b.md": "# Here\n"}, 1),
    ({"a.md": "# Twice\n# Twice\n[second](#twice-1) [third](#twice-2)\n"}, 1),
    ({"d/a.md": "[up](../b.md) [out](../../x.md)\n", "b.md": "x\n"}, 1),
    ({"a.md": "```\n[in code](missing.md)\n```\n`[span](missing.md)`\n"}, 0),
    ({"a.md": "[ref]: missing.md\n[x](#anchor-of-html) <a id=\"anchor-of-html\"></a>\n"}, 1),
    ({"a.md": "[dir](docs/) [file](docs/x.md#faults-mended)\n",
      "docs/x.md": "### Faults: mended!\n"}, 0),
]


def self_test():
    failures = 0
    for files, broken in SELF_TEST_CASES:
        with tempfile.TemporaryDirectory() as top:
            root = os.path.join(top, "tree")
            for rel, text in files.items():
                os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
                with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                    f.write(text)
            errors = check_tree(root)
        if len(errors) != broken:
            failures += 1
            print(f"case {sorted(files)}: expected {broken} broken links, found {errors}")
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    errors = check_tree(sys.argv[1] if len(sys.argv) > 1 else ".")
    for error in errors:
        print(error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
