#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""PostScript driver table of lumora-printer-app: one driver per PostScript
model of ppd/models.tsv.

  gen_app_ps_drivers.py MODELS.tsv OUT_FILE

writes OUT_FILE (C++ rows, included by printer_app/ps_drivers.cpp).

Every row is read back from the PPD text that tools/gen_ppd.py writes for the
model, and carries that text whole: the application hands it to the CUPS
filters that convert a job (pdftopdf, pstops, pdftops ...) and to the
PostScript job, as a CUPS queue of the model hands them its PPD.  The names,
device id, papers, custom range and option choices offered to clients come
from the same text, so the application, the PPDs and the filters cannot
drift apart.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_app_drivers import PWG_NAMES, custom_range, ppd_facts, pwg_points, table_main  # noqa: E402
from gen_ppd import MAKER, ppd_file_name, ps_ppd  # noqa: E402
from lumora_models import c_str  # noqa: E402

FAMILIES = {"maple": "PsFamily::kMaple", "larch": "PsFamily::kLarch", "plain": "PsFamily::kPlain"}


def driver_name(designation):
    return "lumora_" + designation.lower()


def c_text(text):
    """The PPD text as adjacent C++ literals, one per line of the PPD."""
    lines = text.splitlines(keepends=True)
    out = []
    for line in lines:
        esc = line.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
        out.append(f'"{esc}"')
    return "\n     ".join(out)


def paper_rows(facts):
    rows = []
    for name, (w, h) in facts["points"].items():
        pwg = PWG_NAMES[name]
        if pwg_points(pwg) != (w, h):
            raise SystemExit(f"{pwg} is not {w} x {h} points")
        rows.append(f"{{{c_str(name)}, {c_str(pwg)}, {w}, {h}}}")
    return "{" + ", ".join(rows) + "}"


def short_nickname(text):
    return re.search(r'^\*ShortNickName: "(.*)"$', text, re.M).group(1)


def margin(facts):
    """The widest margin of any paper, in points."""
    worst = 0.0
    for name, (w, h) in facts["points"].items():
        llx, lly, urx, ury = facts["areas"][name]
        worst = max(worst, llx, lly, w - urx, h - ury)
    return worst


def driver_row(model, index, strings):
    text = ps_ppd(model, index, strings)
    f = ppd_facts(text)
    c, d = f["choices"], f["defaults"]
    for key in ("Duplex", "Collate", "FeedEdge"):
        if key not in c:
            raise SystemExit(f"{model.designation}: no {key} option in its PPD")
    fields = [
        c_str(driver_name(model.designation)), c_str(f"{MAKER} {model.designation}"),
        c_str(f["device_id"]), c_str(f["model"]), c_str(short_nickname(text)),
        FAMILIES[model.family], c_str(ppd_file_name(f["model"])),
        c_str(PWG_NAMES[d["PageSize"]]), *custom_range(f["custom"]),
        f"{float(margin(f))!r}f", paper_rows(f), c_text(text),
    ]
    return "    {" + ",\n     ".join(fields) + "},"


def main(argv):
    return table_main(argv, __doc__, "gen_app_ps_drivers.py", lambda models: models.ps,
                      lambda m: driver_name(m.designation), driver_row)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
