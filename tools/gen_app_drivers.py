#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Driver table of lumora-printer-app: one driver per raster model of
ppd/models.tsv.

  gen_app_drivers.py MODELS.tsv OUT_FILE

writes OUT_FILE (C++ rows, included by printer_app/app_drivers.cpp).

Every row is read back from the PPD text that tools/gen_ppd.py writes for the
model: the model name, the cupsIPPReason texts, the custom margins, the
defaults, the resolutions, the paper sizes with their imageable areas, the
input slots and the duplex option.  The application therefore describes each
printer to the raster job exactly as the model's PPD describes it to
rastertoLumora, and the two cannot drift apart.
"""
import math
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_ppd import MAKER, raster_ppd, strings_beside  # noqa: E402
from lumora_models import load, c_str, write_if_changed  # noqa: E402

# PWG self-describing names of the papers of the PPDs (PPD name -> PWG name).
# The generator checks that each name's dimensions round to the PPD's points,
# which is how a PWG raster header states the size.
PWG_NAMES = {
    "A4": "iso_a4_210x297mm", "Letter": "na_letter_8.5x11in",
    "Legal": "na_legal_8.5x14in", "A5": "iso_a5_148x210mm",
    "A6": "iso_a6_105x148mm", "B5": "jis_b5_182x257mm",
    "IOSB5": "iso_b5_176x250mm", "B6": "iso_b6_125x176mm",
    "Executive": "na_executive_7.25x10.5in", "Statement": "na_invoice_5.5x8.5in",
    "Folio": "na_foolscap_8.5x13in", "Oficio": "oe_oficio_8.5x13.5in",
    "Postcard": "jpn_hagaki_100x148mm", "EnvMonarch": "na_monarch_3.875x7.5in",
    "EnvDL": "iso_dl_110x220mm", "EnvC5": "iso_c5_162x229mm",
    "Com10Envelope": "na_number-10_4.125x9.5in", "EnvC6": "iso_c6_114x162mm",
    "ZL": "om_zl_120x230mm", "Big32K": "om_big-32k_135x195mm",
    "Big16K": "om_16k_195x270mm", "32K": "om_32k_130x185mm",
    "16K": "om_16k_185x260mm",
}

# IPP media-source keywords of the PPD's InputSlot choices.
SOURCES = {"Auto": "auto", "ManualFeed": "manual", "AutoFeed": "tray-1"}


def pwg_points(pwg):
    """(width, height) in points, rounded as a raster header carries them."""
    m = re.fullmatch(r"[a-z]+_[a-z0-9.-]+_([0-9.]+)x([0-9.]+)(mm|in)", pwg)
    if not m:
        raise SystemExit(f"not a PWG self-describing name: {pwg}")
    scale = 72.0 if m.group(3) == "in" else 72.0 / 25.4
    return tuple(int(math.floor(float(v) * scale + 0.5)) for v in m.group(1, 2))


def ppd_facts(text):
    """What rastertoLumora and CUPS read from a raster PPD."""
    facts = {"reasons": {}, "defaults": {}, "choices": {}, "areas": {}, "points": {},
             "custom": {}}
    for line in text.splitlines():
        if m := re.fullmatch(r'\*ModelName: "(.*)"', line):
            facts["model"] = m.group(1)
        elif m := re.fullmatch(r'\*1284DeviceID: "(.*)"', line):
            facts["device_id"] = m.group(1)
        elif m := re.fullmatch(r'\*cupsIPPReason (\w+)/(.*): ""', line):
            facts["reasons"][m.group(1)] = m.group(2)
        elif m := re.fullmatch(r"\*HWMargins: (.*)", line):
            facts["margins"] = [float(v) for v in m.group(1).split()]
        elif m := re.fullmatch(r"\*Default(\w+): (\S+)", line):
            facts["defaults"][m.group(1)] = m.group(2)
        elif m := re.fullmatch(r'\*ImageableArea (\w+)/.*: "(.*)"', line):
            facts["areas"][m.group(1)] = [float(v) for v in m.group(2).split()]
        elif m := re.fullmatch(r'\*PaperDimension (\w+)/.*: "(\d+) (\d+)"', line):
            facts["points"][m.group(1)] = (int(m.group(2)), int(m.group(3)))
        elif m := re.fullmatch(r"\*ParamCustomPageSize (Width|Height): \d+ points (\S+) (\S+)", line):
            facts["custom"][m.group(1)] = (float(m.group(2)), float(m.group(3)))
        elif m := re.fullmatch(r"\*(\w+) (\w+)/[^:]*: .*", line):
            facts["choices"].setdefault(m.group(1), []).append(m.group(2))
    return facts


def driver_name(model_name):
    short = model_name[len(MAKER) + 1:-len(" Series")]
    return "lumora_" + short.lower().replace(" ", "_")


def fl(v):
    """A float literal of C++."""
    text = f"{v:g}"
    return (text if "." in text or "e" in text else text + ".0") + "f"


def opt(value):
    return "nullptr" if value is None else c_str(value)


def custom_range(custom):
    """PWG names of the smallest and largest custom size, in millimetres
    rounded inwards to hundredths."""
    (wmin, wmax), (hmin, hmax) = custom["Width"], custom["Height"]
    mm = 25.4 / 72.0

    def up(v):
        return f"{math.ceil(v * mm * 100 - 1e-6) / 100:g}"

    def down(v):
        return f"{math.floor(v * mm * 100 + 1e-6) / 100:g}"

    return (c_str(f"custom_min_{up(wmin)}x{up(hmin)}mm"),
            c_str(f"custom_max_{down(wmax)}x{down(hmax)}mm"))


def paper_rows(facts):
    rows = []
    for name, (w, h) in facts["points"].items():
        pwg = PWG_NAMES[name]
        if pwg_points(pwg) != (w, h):
            raise SystemExit(f"{pwg} is not {w} x {h} points")
        llx, lly, urx, ury = facts["areas"][name]
        rows.append(f"{{{c_str(name)}, {c_str(pwg)}, {w}, {h}, "
                    f"{{{fl(llx)}, {fl(lly)}, {fl(w - urx)}, {fl(h - ury)}}}}}")
    return "{" + ", ".join(rows) + "}"


def driver_row(model, index, strings):
    f = ppd_facts(raster_ppd(model, index, strings))
    if f["model"] != model.name:
        raise SystemExit(f"PPD model name {f['model']} is not {model.name}")
    d, r, c = f["defaults"], f["reasons"], f["choices"]
    resolutions = [int(v[:-3]) for v in c["Resolution"]]
    default_slot = f"InputSlot={d['InputSlot']}" if "InputSlot" in d else None
    duplex = {"auto": "kDuplexUnit", "manual": "kManualDuplex", "none": "kOneSided"}[model.duplex]
    if (model.duplex == "none") == ("Duplex" in c):
        raise SystemExit(f"{model.name}: duplex option and model list disagree")
    fields = [
        c_str(driver_name(model.name)), c_str(model.name[:-len(" Series")]),
        c_str(f["device_id"]), c_str(f["model"]),
        opt(r.get("PlatForm")), opt(r.get("SupportManualDuplex")), opt(r.get("MDuplex")),
        "{" + ", ".join(fl(v) for v in f["margins"]) + "}",
        opt(default_slot), opt(d.get("FeedLongEdge")), opt(d.get("TonerMode")),
        opt(d.get("ImageRotation")), opt(d.get("NegativePrint")), opt(d.get("Density")),
        str(model.group), duplex, "true" if "DPI1200" in c else "false",
        "{" + ", ".join(str(v) for v in resolutions) + "}",
        "{" + ", ".join(c_str(SOURCES[s]) for s in c["InputSlot"]) + "}",
        c_str(PWG_NAMES[d["PageSize"]]),
        *custom_range(f["custom"]),
        paper_rows(f),
    ]
    return "    {" + ",\n     ".join(fields) + "},"


def table_main(argv, doc, script, models_of, name_of, row_of):
    """main() of a driver table generator (MODELS.tsv OUT_FILE): one row,
    row_of(model, index, strings), per model of models_of(models), under
    driver names, name_of(model), that must differ."""
    if len(argv) != 3:
        sys.stderr.write(doc)
        return 2
    models = models_of(load(argv[1]))
    strings = strings_beside(argv[1])
    rows = [row_of(m, i, strings) for i, m in enumerate(models, 1)]
    names = [name_of(m) for m in models]
    if len(set(names)) != len(names):
        raise SystemExit("two models give the same driver name")
    hdr = f"// Generated by tools/{script} from ppd/models.tsv; do not edit.\n"
    os.makedirs(os.path.dirname(os.path.abspath(argv[2])), exist_ok=True)
    write_if_changed(argv[2], hdr + "\n".join(rows) + "\n")
    return 0


def main(argv):
    return table_main(argv, __doc__, "gen_app_drivers.py", lambda models: models.raster,
                      lambda m: driver_name(m.name), driver_row)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
