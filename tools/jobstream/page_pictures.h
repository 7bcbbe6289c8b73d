// SPDX-License-Identifier: GPL-2.0-or-later
// Page pictures on disk: PBM (the bits exactly as the printer gets them) and
// PNG (what the sheet will look like; toner levels as shades of gray).
#pragma once

#include <string>

#include "job_stream_reader.h"

namespace lumora::inspect {

// "page-001" for the first page of the stream (position, not page number:
// copies and replays repeat page numbers).
std::string PagePictureBase(const Page& page);

// P4 PBM, 1 = black. A 2-bit page is written as its raw bitmap of twice the
// width (two bits per pixel), byte for byte what the JBIG image carries.
// Each returns an empty string on success, otherwise the reason; a file that
// could not be written whole is removed.
std::string WritePagePbm(const Page& page, const std::string& path);
// Gray PNG: 1-bit pages as black and white, 2-bit pages with 4 gray levels
// (level 3 black, 0 white).
std::string WritePagePng(const Page& page, const std::string& path);

}  // namespace lumora::inspect
