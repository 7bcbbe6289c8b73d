#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Lists the functions of C++ sources longer than a limit and fails on any.

A function is a brace block at namespace or class level whose opening line
ends a declaration with ')' (qualifiers, an initializer list or a trailing
return type may follow); its length counts the lines from the signature to
the closing brace.

  check_function_length.py --max 60 DIR_OR_FILE ...
"""
import argparse
import os
import re
import sys

SOURCE = (".cpp", ".h")


def strip(text):
    """Comments, strings and character literals blanked, lines kept."""
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r'R"\((?:.|\n)*?\)"', lambda m: "\n" * m.group(0).count("\n"), text)
    text = re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)
    return re.sub(r"'(?:\\.|[^'\\\n])*'", "''", text)


def functions(path):
    lines = strip(open(path, encoding="utf-8").read()).split("\n")
    depth = 0
    scopes = []  # (kind, start line, depth at open)
    for number, line in enumerate(lines, 1):
        for i, ch in enumerate(line):
            if ch == "{":
                head = (" ".join(lines[max(0, number - 4):number - 1]) + " " + line[:i]).strip()
                inside_function = any(kind == "f" for kind, _, _ in scopes)
                is_function = (not inside_function and re.search(r"\)\s*(const|noexcept|override|"
                               r"final|->[^;{]*|:[^;{]*|\s)*$", head) is not None
                               and not re.search(r"\b(if|for|while|switch|catch)\s*\(.*\)\s*$", head))
                start = number
                if is_function:
                    # The signature may start a few lines up.
                    back = number
                    while back > 1 and not lines[back - 1].rstrip().endswith((";", "}", "{")) \
                            and lines[back - 2].strip() and not lines[back - 2].rstrip().endswith((";", "}", "{", ":")):
                        back -= 1
                    start = back
                scopes.append(("f" if is_function else "b", start, depth))
                depth += 1
            elif ch == "}":
                depth -= 1
                if scopes:
                    kind, start, _ = scopes.pop()
                    if kind == "f":
                        yield start, number - start + 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max", type=int, default=60)
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    files = []
    for p in args.paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, f) for f in os.listdir(p) if f.endswith(SOURCE))
        else:
            files.append(p)
    long = 0
    for f in files:
        for start, length in functions(f):
            if length > args.max:
                print(f"{f}:{start}: {length} lines")
                long += 1
    if long:
        print(f"{long} function(s) over {args.max} lines", file=sys.stderr)
        return 1
    print(f"no function over {args.max} lines in {len(files)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
