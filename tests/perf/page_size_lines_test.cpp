// SPDX-License-Identifier: GPL-2.0-or-later
// The page-size checks of the PostScript rewriting look at every line of a
// job with a fast case-insensitive search; it must find exactly what
// strcasestr finds (text up to the first NUL, letters in either case).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ps_rewrite.h"

namespace lumora::test {

namespace {

// The checks written with strcasestr, as a reference.
bool Reference(std::string& line, int w, int h, bool collate, bool& inNumCopies) {
  const char* t = line.c_str();
  if (strcasestr(t, "<</Type/Page/MediaBox [0 0")) {
    if (w == 0 || h == 0) return false;
    line = "<</Type/Page/MediaBox [0 0 " + std::to_string(w) + " " + std::to_string(h) + "]\n";
    return true;
  }
  if (strcasestr(t, "/pdfSetupPaper")) return false;
  if (strcasestr(t, "pdfSetupPaper")) {
    if (w == 0 || h == 0) return false;
    line = std::to_string(w) + " " + std::to_string(h) + " pdfSetupPaper\n";
    return true;
  }
  if (collate && strcasestr(t, "%RBIBeginNonPPDFeature: *NumCopies")) {
    inNumCopies = true;
    line.clear();
    return true;
  }
  if (collate && strcasestr(t, "%RBIEndNonPPDFeature")) {
    inNumCopies = false;
    line.clear();
    return true;
  }
  if (collate && inNumCopies) {
    line.clear();
    return true;
  }
  const char* key = strcasestr(t, "<<DeferredMediaSelection");
  if (key && strcasestr(t, ">>setpagedevice")) {
    line.insert(static_cast<size_t>(key - t) + 2, "/");
    return true;
  }
  return false;
}

TEST(PageSizeLines, SameFindingsAsStrcasestr) {
  const std::string lines[] = {
      "<</Type/Page/MediaBox [0 0 612 792]\n",
      "  <</TYPE/PAGE/MEDIABOX [0 0 612 792]\n",
      "<</Type/Page/MediaBox [0 1 612 792]\n",
      "<</Type/Page/MediaBox [0 0",
      "<</Type/Page/MediaBox [0 ",
      "/pdfSetupPaper { } def\n",
      "612 792 PDFSETUPPAPER\n",
      "pppdfSetupPaper\n",
      "pdfSetupPape\n",
      std::string("abc\0 612 792 pdfSetupPaper\n", 27),
      "%RBIBeginNonPPDFeature: *NumCopies 2\n",
      "%rbibeginnonppdfeature: *numcopies 2\n",
      "1 dict dup /NumCopies 2 put setpagedevice\n",
      "%RBIEndNonPPDFeature\n",
      "<<DeferredMediaSelection true>>setpagedevice\n",
      "x <<deferredmediaselection true>> SETPAGEDEVICE\n",
      "<<DeferredMediaSelection true>>\n",
      "<<<<DeferredMediaSelection<<DeferredMediaSelection>>setpagedevice\n",
      "72 700 moveto (Plain text with p and P and <<) show\n",
      "",
      "p",
      "P<</",
  };
  for (bool collate : {false, true}) {
    bool inMine = false;
    bool inRef = false;
    for (int size : {0, 1}) {
      for (const std::string& original : lines) {
        SCOPED_TRACE(original);
        std::string mine = original;
        std::string ref = original;
        const int w = size ? 595 : 0;
        const int h = size ? 842 : 0;
        EXPECT_EQ(Reference(ref, w, h, collate, inRef), FixPrnPageSize(mine, w, h, collate, inMine));
        EXPECT_EQ(ref, mine);
        EXPECT_EQ(inRef, inMine);
      }
    }
  }
}

}  // namespace

}  // namespace lumora::test
