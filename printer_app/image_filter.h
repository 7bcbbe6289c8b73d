// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG and PNG documents, in place of PAPPL 1.3.1's own converters (which
// loop for ever on a truncated PNG, writing libpng's errors, and which
// repeat the page for each copy while the job makes the copies too): the
// image is decoded to 8-bit gray, placed on the job's paper as
// print-scaling and orientation-requested ask, and printed as one page
// with its copies made once by the raster job. A damaged image ends the
// job at once with the decoder's reason.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lumora::app {

struct GrayImage {
  unsigned width = 0, height = 0;
  int ppi = 0;  // pixels per inch the image states (0: none)
  std::vector<uint8_t> pixels;
};

// Decode a file into gray; false and why on a damaged or oversized image
// (more than maxPixels pixels).
bool DecodePng(const std::string& path, size_t maxPixels, GrayImage* image, std::string* why);
bool DecodeJpeg(const std::string& path, size_t maxPixels, GrayImage* image, std::string* why);

// Where the image goes on the page, in page pixels.
struct Placement {
  bool rotate = false;  // turned a quarter counter-clockwise (landscape)
  int x = 0, y = 0;     // top left corner of the scaled image (may be < 0: cropped)
  int width = 0, height = 0;
};

// page: the page in pixels at dpi; margins: left, top, right, bottom in
// pixels.
Placement PlaceImage(unsigned imageWidth, unsigned imageHeight, int ppi, int pageWidth,
                     int pageHeight, const int margins[4], int dpi, pappl_scaling_t scaling,
                     ipp_orient_t orientation);

// pappl_mime_filter_cb_t for image/jpeg and image/png (data: unused).
bool ImageFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace lumora::app
