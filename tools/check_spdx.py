#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Fails when a source file of the tree lacks its licence line.

Every C++, Python, shell and CMake file carries
"SPDX-License-Identifier: GPL-2.0-or-later" in its first three lines (after
a "#!" line where there is one). Without git (a tarball), the tree is walked.

  check_spdx.py SOURCE_DIR
"""
import os
import subprocess
import sys

TAG = "SPDX-License-Identifier: GPL-2.0-or-later"
SUFFIXES = (".cpp", ".h", ".c", ".py", ".sh", ".cmake", ".supp", ".pam", ".service.in")
SKIP_DIRS = {".git", "dist"}


def is_source(path):
    name = os.path.basename(path)
    return name == "CMakeLists.txt" or name.endswith(SUFFIXES)


def tree_files(root):
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "--cached", "--others",
                              "--exclude-standard"], check=True, capture_output=True,
                             text=True).stdout
        return [f for f in out.splitlines() if os.path.exists(os.path.join(root, f))]
    except (OSError, subprocess.CalledProcessError):
        found = []
        for top, dirs, names in os.walk(root):
            dirs[:] = [d for d in dirs if d not in SKIP_DIRS and not d.startswith("build")]
            found += [os.path.relpath(os.path.join(top, n), root) for n in names]
        return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    missing = []
    for rel in sorted(tree_files(root)):
        if not is_source(rel):
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            head = [f.readline() for _ in range(3)]
        if not any(TAG in line for line in head):
            missing.append(rel)
    for rel in missing:
        print(f"{rel}: no '{TAG}' line at the top")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
