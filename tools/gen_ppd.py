#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""PPD generator of the Lumora driver: one PPD file per model of ppd/models.tsv.

  gen_ppd.py MODELS.tsv OUT_DIR [--list]

writes OUT_DIR/<Model-Name>.ppd for every raster and PostScript model
(removing stale Lumora PPDs from OUT_DIR); with --list it only prints the
file names that would be written.  No PPD is edited by hand: change this
generator, ppd/models.tsv or ppd/strings.tsv and rebuild.

Every text a dialog shows (options, choices, paper names, the custom size
and its parameters, the manual-duplex prompt) is English in the PPD's main
part and translated into each language of strings.tsv (read from beside
MODELS.tsv) in the PPD's closing part, as the CUPS localization keywords
    *cupsLanguages: "zh_CN zh_TW"
    *zh_CN.Translation TonerMode/<text>: ""
    *zh_CN.TonerMode True/<text>: ""
    *zh_CN.cupsIPPReason MDuplex/<text>: ""
which CUPS picks by the user's or the job's language (ppdLocalize,
ppdLocalizeIPPReason).  The machine texts that rastertoLumora reads
(PlatForm, SupportManualDuplex) are never translated.  The main part stays
ASCII, the translations are UTF-8.

Raster models (rastertoLumora) get 8-bit gray raster (cupsColorSpace 0, 255 =
white) at 600 dpi (1200 dpi on the Hazel family), the 23 paper sizes of the
printer's paper table with imageable areas equal to the image the printer
expects, and the PPD texts the filter reads through ppdLocalizeIPPReason:
    *cupsIPPReason PlatForm/PLATFORM_Z: ""
gives the text "PLATFORM_Z" for the keyword "PlatForm".
PostScript models (pstoLumora) get the PJL job control lines, PageSize,
Duplex, Collate and FeedEdge.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lumora_models import load  # noqa: E402
from lumora_strings import load_strings  # noqa: E402

MAKER = "Lumora"
VERSION = "1.0"
DPI = 600

# Paper tables of the four raster model groups: name, points (w, h) and the
# printer's image in pixels at 600 dpi.  They match the tables compiled into
# rastertoLumora (raster/paper_tables.cpp); tests/e2e checks the two agree.
PAPER_POINTS = [
    ("A4", 595, 842), ("Letter", 612, 792), ("Legal", 612, 1008),
    ("A5", 420, 595), ("A6", 298, 420), ("B5", 516, 729), ("IOSB5", 499, 709),
    ("B6", 354, 499), ("Executive", 522, 756), ("Statement", 396, 612),
    ("Folio", 612, 936), ("Oficio", 612, 972), ("Postcard", 283, 420),
    ("EnvMonarch", 279, 540), ("EnvDL", 312, 624), ("EnvC5", 459, 649),
    ("Com10Envelope", 297, 684), ("EnvC6", 323, 459), ("ZL", 340, 652),
    ("Big32K", 383, 553), ("Big16K", 553, 765), ("32K", 369, 524),
    ("16K", 524, 737),
]

PAPER_TEXT = {
    "A4": "A4", "Letter": "US Letter", "Legal": "US Legal", "A5": "A5",
    "A6": "A6", "B5": "JIS B5", "IOSB5": "ISO B5", "B6": "B6 (125 x 176 mm)",
    "Executive": "Executive", "Statement": "Statement", "Folio": "Folio",
    "Oficio": "Oficio", "Postcard": "Postcard", "EnvMonarch": "Envelope Monarch",
    "EnvDL": "Envelope DL", "EnvC5": "Envelope C5", "Com10Envelope": "Envelope #10",
    "EnvC6": "Envelope C6", "ZL": "ZL", "Big32K": "Big 32K", "Big16K": "Big 16K",
    "32K": "32K", "16K": "16K",
}

# pixel width, pixel height per paper name and group (1 Hazel, 2 Hazel MFP,
# 3 Cedar/Birch, 4 Elm/Fir)
PAPER_PIXELS = {
    "A5":            [(3328, 4736), (3312, 4720), (3264, 4736), (3264, 4736)],
    "Letter":        [(4928, 6364), (4912, 6364), (4864, 6364), (4864, 6368)],
    "A4":            [(4800, 6780), (4776, 6782), (4736, 6780), (4736, 6784)],
    "A6":            [(2304, 3260), (2296, 3260), (2272, 3260), (2272, 3264)],
    "B5":            [(4128, 5835), (4112, 5835), (4064, 5835), (4064, 5856)],
    "IOSB5":         [(3968, 5670), (3968, 5669), (3936, 5670), (3936, 5696)],
    "B6":            [(2784, 3922), (2760, 3921), (2720, 3922), (2720, 3936)],
    "Executive":     [(4192, 6064), (4168, 6064), (4128, 6064), (4128, 6080)],
    "Statement":     [(3136, 4864), (3112, 4864), (3072, 4864), (3072, 4864)],
    "Folio":         [(4928, 7560), (4912, 7564), (4864, 7560), (4864, 7584)],
    "Oficio":        [(4928, 7866), (4920, 7866), (4864, 7866), (4864, 7872)],
    "Postcard":      [(2176, 3260), (1896, 3024), (2144, 3260), (2144, 3264)],
    "EnvMonarch":    [(2144, 4264), (1856, 4028), (2112, 4264), (2112, 4288)],
    "EnvDL":         [(2432, 4961), (2128, 4724), (2368, 4961), (2368, 4992)],
    "EnvC5":         [(3648, 5174), (3360, 4937), (3616, 5174), (3616, 5184)],
    "Com10Envelope": [(2304, 5464), (2008, 5228), (2240, 5464), (2240, 5472)],
    "EnvC6":         [(2528, 3591), (2224, 3354), (2464, 3591), (2464, 3616)],
    "ZL":            [(2656, 5197), (2648, 5197), (2624, 5197), (2624, 5216)],
    "Legal":         [(4928, 8164), (4912, 8164), (4864, 8164), (4864, 8192)],
    "Big32K":        [(3008, 4371), (3000, 4370), (2976, 4371), (2976, 4384)],
    "Big16K":        [(4448, 6142), (4424, 6142), (4384, 6142), (4384, 6144)],
    "32K":           [(2912, 4134), (2888, 4134), (2848, 4134), (2848, 4160)],
    "16K":           [(4192, 5906), (4184, 5906), (4160, 5906), (4160, 5920)],
}

PLATFORM = {1: "PLATFORM_C", 2: "PLATFORM_C", 3: "PLATFORM_Z", 4: "PLATFORM_M"}

# Custom sizes: the range the printers feed (also the pre-filter's range).
CUSTOM_MIN_W, CUSTOM_MAX_W = 211, 612
CUSTOM_MIN_H, CUSTOM_MAX_H = 418, 1008
# Margins of custom sizes, left bottom right top in points.  The printer's
# image starts at the top of the sheet and is centred across it, so the
# whole vertical margin is at the bottom.
CUSTOM_MARGINS = (12, 24, 12, 0)
# The parameters of a custom size, as dialogs name them.
CUSTOM_PARAMS = [("Width", "Width"), ("Height", "Height"), ("WidthOffset", "Width Offset"),
                 ("HeightOffset", "Height Offset"), ("Orientation", "Orientation")]
# PostScript printers: a plain 12-point margin all round.
PS_MARGIN = 12

# Paper sources of the raster printers: choice, text, PostScript code.
INPUT_SLOTS = [
    ("Auto", "Automatic", "<</ManualFeed false/MediaPosition 0>>setpagedevice"),
    ("ManualFeed", "Manual Feed", "<</ManualFeed true/MediaPosition 1>>setpagedevice"),
    ("AutoFeed", "Tray", "<</ManualFeed false/MediaPosition 2>>setpagedevice"),
]

MANUAL_DUPLEX_PROMPT = ("Turn the printed stack over and put it back in the tray "
                        "to print the back sides")


def ppd_file_name(display_name):
    return display_name.replace(" ", "-") + ".ppd"


def fmt(v):
    """Number in points as a PPD writes it: up to two decimals, no trailing zeros."""
    s = f"{v:.2f}".rstrip("0").rstrip(".")
    return s if s != "-0" else "0"


def imageable_area(w, h, pw, ph):
    """Area of a w x h point sheet that the printer's pw x ph pixel image
    covers: centred across the sheet (the filter crops wider raster lines
    evenly on both sides) and starting at its top edge (the filter keeps the
    first ph raster lines)."""
    iw, ih = pw * 72.0 / DPI, ph * 72.0 / DPI
    if iw > w + 1e-9 or ih > h + 1e-9:
        raise SystemExit(f"image {pw}x{ph} does not fit a {w}x{h} sheet")
    left = (w - iw) / 2.0
    return (left, h - ih, left + iw, h)


class Ppd:
    def __init__(self, strings):
        self.strings = strings
        self.lines = []
        self.main_end = None
        # (keyword, spec, English text) of every text a dialog shows, in
        # the order the PPD defines them; ungrouped options are in CUPS's
        # "General" group.
        self.shown = [("Translation", "General", "General")]

    def add(self, line=""):
        self.lines.append(line)

    def option(self, key, text, default, choices, ui="PickOne", order=None, section="AnySetup"):
        """choices: list of (choice, text, PostScript code)."""
        self.add()
        self.add(f"*OpenUI *{key}/{text}: {ui}")
        self.add(f"*OrderDependency: {order} {section} *{key}")
        self.add(f"*Default{key}: {default}")
        self.shown.append(("Translation", key, text))
        for choice, ctext, code in choices:
            self.add(f'*{key} {choice}/{ctext}: "{code}"')
            self.shown.append((key, choice, ctext))
        self.add(f"*CloseUI: *{key}")

    def translations(self):
        """The closing part: every shown text in every language of the table."""
        self.main_end = len(self.lines)
        for lang in self.strings.languages:
            self.add()
            self.add(f"*% {lang} texts (ppd/strings.tsv)")
            for keyword, spec, text in self.shown:
                self.add(f'*{lang}.{keyword} {spec}/{self.strings.tr(text, lang)}: ""')

    def text(self):
        if not all(line.isascii() for line in self.lines[:self.main_end]):
            raise SystemExit("the main part of a PPD must be ASCII")
        return "\n".join(self.lines) + "\n"


def header(ppd, pcfile, model_name, nickname, short_nickname, device_id):
    ppd.add('*PPD-Adobe: "4.3"')
    ppd.add(f"*% PPD file for the {model_name}.")
    ppd.add("*% Generated by tools/gen_ppd.py from ppd/models.tsv; do not edit.")
    ppd.add('*FormatVersion: "4.3"')
    ppd.add(f'*FileVersion: "{VERSION}"')
    ppd.add("*LanguageVersion: English")
    ppd.add("*LanguageEncoding: ISOLatin1")
    ppd.add(f'*PCFileName: "{pcfile}"')
    ppd.add(f'*Manufacturer: "{MAKER}"')
    ppd.add(f'*Product: "({model_name})"')
    ppd.add(f'*ModelName: "{model_name}"')
    ppd.add(f'*ShortNickName: "{short_nickname}"')
    ppd.add(f'*NickName: "{nickname}"')
    ppd.add(f'*1284DeviceID: "{device_id}"')
    ppd.add('*PSVersion: "(3010.000) 0"')
    ppd.add('*LanguageLevel: "3"')
    ppd.add("*ColorDevice: False")
    ppd.add("*DefaultColorSpace: Gray")
    ppd.add("*FileSystem: False")
    ppd.add('*Throughput: "20"')
    ppd.add("*LandscapeOrientation: Plus90")
    ppd.add("*TTRasterizer: Type42")
    ppd.add(f'*cupsLanguages: "{" ".join(ppd.strings.languages)}"')


def page_sizes(ppd, default, areas, custom_margins):
    """areas: list of (name, w, h, (llx, lly, urx, ury))."""
    ppd.add()
    ppd.add("*OpenUI *PageSize/Media Size: PickOne")
    ppd.add("*OrderDependency: 10 AnySetup *PageSize")
    ppd.add(f"*DefaultPageSize: {default}")
    ppd.shown.append(("Translation", "PageSize", "Media Size"))
    for name, w, h, _ in areas:
        ppd.add(f'*PageSize {name}/{PAPER_TEXT[name]}: '
                f'"<</PageSize[{w} {h}]/ImagingBBox null>>setpagedevice"')
        ppd.shown.append(("PageSize", name, PAPER_TEXT[name]))
    ppd.shown.append(("CustomPageSize", "True", "Custom"))
    ppd.shown.extend(("ParamCustomPageSize", p, t) for p, t in CUSTOM_PARAMS)
    ppd.add("*CloseUI: *PageSize")
    ppd.add()
    ppd.add("*OpenUI *PageRegion/Media Size: PickOne")
    ppd.add("*OrderDependency: 10 AnySetup *PageRegion")
    ppd.add(f"*DefaultPageRegion: {default}")
    ppd.shown.append(("Translation", "PageRegion", "Media Size"))
    for name, w, h, _ in areas:
        ppd.add(f'*PageRegion {name}/{PAPER_TEXT[name]}: '
                f'"<</PageSize[{w} {h}]/ImagingBBox null>>setpagedevice"')
        ppd.shown.append(("PageRegion", name, PAPER_TEXT[name]))
    ppd.add("*CloseUI: *PageRegion")
    ppd.add()
    ppd.add(f"*DefaultImageableArea: {default}")
    for name, _, _, a in areas:
        ppd.add(f'*ImageableArea {name}/{PAPER_TEXT[name]}: "{" ".join(fmt(v) for v in a)}"')
    ppd.add(f"*DefaultPaperDimension: {default}")
    for name, w, h, _ in areas:
        ppd.add(f'*PaperDimension {name}/{PAPER_TEXT[name]}: "{w} {h}"')
    ppd.add()
    ppd.add(f'*HWMargins: {" ".join(str(m) for m in custom_margins)}')
    ppd.add(f'*MaxMediaWidth: "{CUSTOM_MAX_W}"')
    ppd.add(f'*MaxMediaHeight: "{CUSTOM_MAX_H}"')
    ppd.add('*CustomPageSize True: "pop pop pop <</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice"')
    ppd.add(f'*ParamCustomPageSize Width: 1 points {CUSTOM_MIN_W} {CUSTOM_MAX_W}')
    ppd.add(f'*ParamCustomPageSize Height: 2 points {CUSTOM_MIN_H} {CUSTOM_MAX_H}')
    ppd.add('*ParamCustomPageSize WidthOffset: 3 points 0 0')
    ppd.add('*ParamCustomPageSize HeightOffset: 4 points 0 0')
    ppd.add('*ParamCustomPageSize Orientation: 5 int 0 0')


def bool_option(ppd, key, text, order, true_text="On", false_text="Off"):
    ppd.option(key, text, "False",
               [("False", false_text, ""), ("True", true_text, "")], ui="Boolean", order=order)


def duplex_option(ppd, order, default="None"):
    ppd.option("Duplex", "Two-Sided Printing", default, [
        ("None", "Off (One-Sided)", "<</Duplex false>>setpagedevice"),
        ("DuplexNoTumble", "Long-Edge (Portrait)", "<</Duplex true/Tumble false>>setpagedevice"),
        ("DuplexTumble", "Short-Edge (Landscape)", "<</Duplex true/Tumble true>>setpagedevice"),
    ], order=order)


def raster_ppd(model, index, strings):
    ppd = Ppd(strings)
    short = model.name
    if len(short) > 31:
        raise SystemExit(f"model name too long for a ShortNickName: {short}")
    mdl = model.name[len(MAKER) + 1:] if model.name.startswith(MAKER + " ") else model.name
    device_id = (f"MFG:{MAKER};CMD:PJL,LUMORA;MDL:{mdl};CLS:PRINTER;"
                 f"DES:{model.name};")
    header(ppd, f"lmr{index:05d}.ppd", model.name, f"{model.name}, {VERSION}", short, device_id)
    ppd.add("*cupsVersion: 2.4")
    ppd.add(f"*cupsModelNumber: {model.group}")
    # The copy count reaches rastertoLumora in the page header: it makes
    # collated copies itself (Collate from the job, else the queue's default)
    # and hands uncollated ones to the printer (the page record's copies).
    # With manual copies CUPS's pdftopdf would copy the pages itself and
    # collate only when the job names Collate, never for the queue's default.
    ppd.add("*cupsManualCopies: False")
    ppd.add('*cupsFilter2: "application/vnd.cups-raster application/vnd.cups-raster 0 rastertoLumora"')
    ppd.add()
    ppd.add("*% Printer family and manual duplex, read by rastertoLumora.")
    ppd.add(f'*cupsIPPReason PlatForm/{PLATFORM[model.group]}: ""')
    manual = model.duplex == "manual"
    ppd.add(f'*cupsIPPReason SupportManualDuplex/{"TRUE" if manual else "FALSE"}: ""')
    if manual:
        ppd.add(f'*cupsIPPReason MDuplex/{MANUAL_DUPLEX_PROMPT}: ""')
        ppd.shown.append(("cupsIPPReason", "MDuplex", MANUAL_DUPLEX_PROMPT))

    # Raster format: 8-bit gray, 255 = white.
    ppd.option("ColorModel", "Color Mode", "Gray", [
        ("Gray", "Grayscale", "<</cupsColorSpace 0/cupsColorOrder 0/cupsBitsPerColor 8>>setpagedevice"),
    ], order=10)
    resolutions = [("600dpi", "600 DPI",
                    "<</HWResolution[600 600]/cupsBitsPerColor 8/cupsColorSpace 0>>setpagedevice")]
    if model.dpi1200 and PLATFORM[model.group] == "PLATFORM_C":
        # Only the Hazel family takes a 1200 dpi image; the others screen their
        # 600 dpi image finer when DPI1200 is on.
        resolutions.append(("1200dpi", "1200 DPI",
                            "<</HWResolution[1200 1200]/cupsBitsPerColor 8/cupsColorSpace 0>>setpagedevice"))
    ppd.option("Resolution", "Resolution", "600dpi", resolutions, order=10)

    group = model.group - 1
    areas = []
    for name, w, h in PAPER_POINTS:
        pw, ph = PAPER_PIXELS[name][group]
        areas.append((name, w, h, imageable_area(w, h, pw, ph)))
    page_sizes(ppd, "A4", areas, CUSTOM_MARGINS)

    ppd.option("InputSlot", "Paper Source", "Auto", INPUT_SLOTS, order=20)
    if model.duplex != "none":
        duplex_option(ppd, 20)
    if manual:
        # The filter reads "outputorder=true".  CUPS's pdftopdf reads the same
        # keyword (PPD keywords compare without case) as the page order and
        # knows "Normal" and "Reverse": the default must be "Normal", never
        # "Reverse".
        ppd.option("outputorder", "Manual Duplex Blank Back Side", "Normal", [
            ("Normal", "Before the Turned Pages", ""),
            ("True", "After the Turned Pages", ""),
        ], order=30)
    ppd.option("Density", "Print Density", "2", [
        ("0", "Lightest", ""), ("1", "Light", ""), ("2", "Normal", ""),
        ("3", "Dark", ""), ("4", "Darkest", ""),
    ], order=30)
    bool_option(ppd, "TonerMode", "Toner Save", 30)
    bool_option(ppd, "FeedLongEdge", "Feed A5 Long Edge First", 30)
    if model.dpi1200:
        bool_option(ppd, "DPI1200", "1200 DPI Output", 30)
    bool_option(ppd, "NegativePrint", "Negative Print", 30)
    bool_option(ppd, "ImageRotation", "Rotate Pages 180 Degrees", 30)
    ppd.option("Collate", "Collate Copies", "False", [
        ("False", "Off", "<</Collate false>>setpagedevice"),
        ("True", "On", "<</Collate true>>setpagedevice"),
    ], ui="Boolean", order=30)
    bool_option(ppd, "FineMode", "Fine Mode", 30)
    ppd.translations()
    ppd.add()
    ppd.add("*% End of PPD")
    return ppd.text()


def ps_ppd(model, index, strings):
    ppd = Ppd(strings)
    d = model.designation
    name = f"{MAKER} {d} Series PS"
    device_id = f"MFG:{MAKER};CMD:PJL,PS;MDL:{d} series;CLS:PRINTER;DES:{MAKER} {d};"
    header(ppd, f"lmp{index:05d}.ppd", name, f"{name}, {VERSION}", name, device_id)
    ppd.add("*cupsVersion: 2.4")
    # Maple printers make copies themselves (the job carries the copy count);
    # for collated copies pstoLumora takes the count out and repeats the job
    # body itself, so CUPS must not copy the pages as well.  The Larch road
    # converts the PDF with a copy count of 1: CUPS makes those copies.
    manual_copies = "False" if model.family == "maple" else "True"
    ppd.add(f"*cupsManualCopies: {manual_copies}")
    if model.family == "larch":
        # Larch printers take the PDF road: pstoLumora turns the PDF into
        # PostScript itself (after turning even pages for long-edge duplex),
        # so every job, PostScript ones too (through gstopdf), must reach it
        # as PDF.  The PostScript entry costs more than any PDF chain.
        ppd.add('*cupsFilter2: "application/vnd.cups-postscript application/postscript 200 pstoLumora"')
        ppd.add('*cupsFilter2: "application/vnd.cups-pdf application/postscript 0 pstoLumora"')
    else:
        ppd.add('*cupsFilter2: "application/vnd.cups-postscript application/postscript 0 pstoLumora"')
    ppd.add()
    ppd.add("*% PJL job control around every job.")
    ppd.add('*JCLBegin: "<1B>%-12345X@PJL JOB NAME=<22>Lumora<22><0D0A>"')
    ppd.add('*JCLToPSInterpreter: "@PJL ENTER LANGUAGE=POSTSCRIPT<0D0A>"')
    ppd.add('*JCLEnd: "<1B>%-12345X@PJL EOJ<0D0A><1B>%-12345X"')
    areas = []
    for pname, w, h in PAPER_POINTS:
        areas.append((pname, w, h, (PS_MARGIN, PS_MARGIN, w - PS_MARGIN, h - PS_MARGIN)))
    page_sizes(ppd, "A4", areas, (PS_MARGIN,) * 4)
    duplex_option(ppd, 20)
    ppd.option("Collate", "Collate Copies", "False", [
        ("False", "Off", "<</Collate false>>setpagedevice"),
        ("True", "On", "<</Collate true>>setpagedevice"),
    ], ui="Boolean", order=30)
    ppd.option("FeedEdge", "A5 Feed Edge", "ShortEdge", [
        ("ShortEdge", "Short Edge First", ""),
        ("LongEdge", "Long Edge First", ""),
    ], order=30)
    ppd.translations()
    ppd.add()
    ppd.add("*% End of PPD")
    return ppd.text()


def strings_beside(models_path):
    """The translation table of the models table: strings.tsv beside it."""
    return load_strings(os.path.join(os.path.dirname(os.path.abspath(models_path)), "strings.tsv"))


def generate(models, strings):
    """Returns {file name: PPD text}."""
    out = {}
    for i, m in enumerate(models.raster, 1):
        out[ppd_file_name(m.name)] = raster_ppd(m, i, strings)
    for i, m in enumerate(models.ps, 1):
        out[ppd_file_name(f"{MAKER} {m.designation} Series PS")] = ps_ppd(m, i, strings)
    if len(out) != len(models.raster) + len(models.ps):
        raise SystemExit("two models give the same PPD file name")
    return out


def main(argv):
    if len(argv) not in (3, 4) or (len(argv) == 4 and argv[3] != "--list"):
        sys.stderr.write(__doc__)
        return 2
    files = generate(load(argv[1]), strings_beside(argv[1]))
    if len(argv) == 4:
        print("\n".join(sorted(files)))
        return 0
    out_dir = argv[2]
    os.makedirs(out_dir, exist_ok=True)
    for old in os.listdir(out_dir):
        if old.startswith(MAKER + "-") and old.endswith(".ppd") and old not in files:
            os.remove(os.path.join(out_dir, old))
    for fname, text in files.items():
        path = os.path.join(out_dir, fname)
        try:
            with open(path, encoding="utf-8") as f:
                if f.read() == text:
                    continue
        except (OSError, UnicodeDecodeError):
            pass
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
