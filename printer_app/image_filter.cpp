// SPDX-License-Identifier: GPL-2.0-or-later
#include "image_filter.h"

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app_drivers.h"
#include "job_gate.h"
#include "job_queue.h"
#include "raster_adapter.h"

namespace lumora::app {

namespace {

constexpr int kDpi = 600;
// Without a stated resolution an image printed at its own size is taken
// as a screen's.
constexpr int kScreenPpi = 200;

// libjpeg reports a fatal error by jumping back: only plain C data lives
// across setjmp here.
struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf back;
  char message[JMSG_LENGTH_MAX];
  bool cut;  // the data ended before the image (libjpeg only warns)
};

void JpegFail(j_common_ptr info) {
  JpegError* e = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, e->message);
  longjmp(e->back, 1);
}

void JpegWarning(j_common_ptr info, int level) {
  JpegError* e = reinterpret_cast<JpegError*>(info->err);
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF && !e->cut) {
    e->cut = true;
    (*info->err->format_message)(info, e->message);
  }
}

// Reads the header and starts decompressing to gray (or CMYK); 0 or the
// failure.
int JpegStart(jpeg_decompress_struct* info, JpegError* error, FILE* file) {
  if (setjmp(error->back)) return 1;
  jpeg_create_decompress(info);
  jpeg_stdio_src(info, file);
  jpeg_read_header(info, TRUE);
  bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  info->out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
  jpeg_start_decompress(info);
  return 0;
}

int JpegReadLine(jpeg_decompress_struct* info, JpegError* error, JSAMPROW row) {
  if (setjmp(error->back)) return 1;
  return jpeg_read_scanlines(info, &row, 1) == 1 ? 0 : 1;
}

uint8_t GrayOfCmyk(const uint8_t* p, bool inverted) {
  // Ink amounts; Adobe's files store them inverted.
  int c = inverted ? 255 - p[0] : p[0], m = inverted ? 255 - p[1] : p[1];
  int y = inverted ? 255 - p[2] : p[2], k = inverted ? 255 - p[3] : p[3];
  int ink = std::min(255, (c * 30 + m * 59 + y * 11) / 100);
  return static_cast<uint8_t>((255 - ink) * (255 - k) / 255);
}

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

int JpegPpi(const jpeg_decompress_struct& info) {
  if (info.X_density == 0 || info.X_density != info.Y_density) return 0;
  if (info.density_unit == 1) return info.X_density;
  if (info.density_unit == 2) return static_cast<int>(std::lround(info.X_density * 2.54));
  return 0;
}

// Nearest pixel of the image for a page pixel inside the placement.
uint8_t Sample(const GrayImage& image, const Placement& p, int x, int y) {
  long u = x - p.x, v = y - p.y;
  unsigned sx, sy;
  if (p.rotate) {
    sx = static_cast<unsigned>((p.height - 1 - v) * static_cast<long>(image.width) / p.height);
    sy = static_cast<unsigned>(u * static_cast<long>(image.height) / p.width);
  } else {
    sx = static_cast<unsigned>(u * static_cast<long>(image.width) / p.width);
    sy = static_cast<unsigned>(v * static_cast<long>(image.height) / p.height);
  }
  return image.pixels[static_cast<size_t>(std::min(sy, image.height - 1)) * image.width +
                      std::min(sx, image.width - 1)];
}

// The job's paper in points: the PPD's, else from the media size.
void PagePoints(const AppDriver& driver, const pappl_media_col_t& media, int* w, int* h) {
  if (const AppPaper* p = FindPaper(driver, media.size_name)) {
    *w = p->width;
    *h = p->height;
    return;
  }
  *w = static_cast<int>(std::lround(media.size_width * 72.0 / 2540.0));
  *h = static_cast<int>(std::lround(media.size_length * 72.0 / 2540.0));
}

cups_page_header2_t PageHeader(const char* sizeName, int widthPoints, int heightPoints,
                               int copies) {
  cups_page_header2_t h;
  pwg_media_t media{};
  media.pwg = sizeName;
  media.width = static_cast<int>(std::lround(widthPoints * 2540.0 / 72.0));
  media.length = static_cast<int>(std::lround(heightPoints * 2540.0 / 72.0));
  cupsRasterInitPWGHeader(&h, &media, "sgray_8", kDpi, kDpi, "one-sided", "normal");
  h.PageSize[0] = static_cast<unsigned>(widthPoints);
  h.PageSize[1] = static_cast<unsigned>(heightPoints);
  h.cupsWidth = static_cast<unsigned>(std::lround(widthPoints * kDpi / 72.0));
  h.cupsHeight = static_cast<unsigned>(std::lround(heightPoints * kDpi / 72.0));
  h.cupsBytesPerLine = h.cupsWidth;
  h.NumCopies = static_cast<unsigned>(std::max(1, copies));
  return h;
}

struct OptionsDeleter {
  void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};

bool Decode(pappl_job_t* job, const std::string& path, GrayImage* image, std::string* why) {
  int maxWidth = 0, maxHeight = 0;
  size_t maxBytes = papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)),
                                               &maxWidth, &maxHeight);
  size_t maxPixels = maxBytes > 0 ? maxBytes : size_t{16384} * 16384;
  const char* format = papplJobGetFormat(job);
  bool png = format && strcmp(format, "image/png") == 0;
  return png ? DecodePng(path, maxPixels, image, why) : DecodeJpeg(path, maxPixels, image, why);
}

bool PrintImage(pappl_job_t* job, pappl_device_t* device, const std::string& path) {
  GrayImage image;
  std::string why;
  if (!Decode(job, path, &image, &why)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The image cannot be printed: %s.", why.c_str());
    SetJobMessage(job, "The image cannot be printed: %s.", why.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
      papplJobCreatePrintOptions(job, 1, false));
  if (!options) return false;
  const AppDriver& driver = JobDriver(job);
  int widthPoints = 0, heightPoints = 0;
  PagePoints(driver, options->media, &widthPoints, &heightPoints);
  cups_page_header2_t header =
      PageHeader(options->media.size_name, widthPoints, heightPoints, options->copies);
  const pappl_media_col_t& m = options->media;
  const int margins[4] = {m.left_margin * kDpi / 2540, m.top_margin * kDpi / 2540,
                          m.right_margin * kDpi / 2540, m.bottom_margin * kDpi / 2540};
  Placement place = PlaceImage(image.width, image.height, image.ppi,
                               static_cast<int>(header.cupsWidth),
                               static_cast<int>(header.cupsHeight), margins, kDpi,
                               options->print_scaling, options->orientation_requested);
  papplJobSetImpressions(job, 1);
  AppJob app(job, driver, *options, device);
  if (app.StartPage(header)) {
    std::vector<uint8_t> line(header.cupsBytesPerLine);
    const int x0 = std::max(0, place.x), x1 = std::min<int>(header.cupsWidth, place.x + place.width);
    for (int y = 0; y < static_cast<int>(header.cupsHeight) && !papplJobIsCanceled(job); y++) {
      std::fill(line.begin(), line.end(), 0xFF);
      if (y >= place.y && y < place.y + place.height) {
        for (int x = x0; x < x1; x++) line[static_cast<size_t>(x)] = Sample(image, place, x, y);
      }
      app.WriteLine(line.data());
    }
    app.EndPage();
    papplJobSetImpressionsCompleted(job, 1);
  }
  return app.EndJob();
}

}  // namespace

bool DecodePng(const std::string& path, size_t maxPixels, GrayImage* image, std::string* why) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    *why = png.message;
    return false;
  }
  if (png.width == 0 || png.height == 0 ||
      static_cast<size_t>(png.width) * png.height > maxPixels) {
    *why = "the image is " + std::to_string(png.width) + "x" + std::to_string(png.height) +
           " pixels, more than the printer takes";
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_GRAY;
  image->width = png.width;
  image->height = png.height;
  image->pixels.assign(PNG_IMAGE_SIZE(png), 0xFF);
  png_color white = {255, 255, 255};
  if (!png_image_finish_read(&png, &white, image->pixels.data(), 0, nullptr)) {
    *why = png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

bool DecodeJpeg(const std::string& path, size_t maxPixels, GrayImage* image, std::string* why) {
  std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rb"));
  if (!file) {
    *why = "cannot open the document";
    return false;
  }
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = JpegFail;
  error.mgr.emit_message = JpegWarning;
  error.message[0] = '\0';
  error.cut = false;
  bool ok = JpegStart(&info, &error, file.get()) == 0;
  if (ok && (info.output_width == 0 || info.output_height == 0 ||
             static_cast<size_t>(info.output_width) * info.output_height > maxPixels)) {
    snprintf(error.message, sizeof(error.message), "the image is %ux%u pixels, more than the printer takes",
             info.output_width, info.output_height);
    ok = false;
  }
  if (ok) {
    image->width = info.output_width;
    image->height = info.output_height;
    image->ppi = JpegPpi(info);
    image->pixels.assign(static_cast<size_t>(image->width) * image->height, 0xFF);
    const int components = info.output_components;
    std::vector<uint8_t> row(static_cast<size_t>(image->width) * components);
    for (unsigned y = 0; ok && y < image->height; y++) {
      ok = JpegReadLine(&info, &error, row.data()) == 0;
      uint8_t* out = image->pixels.data() + static_cast<size_t>(y) * image->width;
      for (unsigned x = 0; ok && x < image->width; x++) {
        out[x] = components == 4 ? GrayOfCmyk(&row[x * 4], info.saw_Adobe_marker) : row[x];
      }
    }
  }
  ok = ok && !error.cut;
  if (!ok) *why = error.message[0] ? error.message : "the image ends early";
  jpeg_destroy_decompress(&info);
  return ok;
}

Placement PlaceImage(unsigned imageWidth, unsigned imageHeight, int ppi, int pageWidth,
                     int pageHeight, const int margins[4], int dpi, pappl_scaling_t scaling,
                     ipp_orient_t orientation) {
  Placement p;
  p.rotate = orientation == IPP_ORIENT_LANDSCAPE || orientation == IPP_ORIENT_REVERSE_LANDSCAPE ||
             (orientation == IPP_ORIENT_NONE && imageWidth > imageHeight && pageWidth < pageHeight);
  const double w = p.rotate ? imageHeight : imageWidth, h = p.rotate ? imageWidth : imageHeight;
  const bool fill = scaling == PAPPL_SCALING_FILL;
  const int left = fill ? 0 : margins[0], top = fill ? 0 : margins[1];
  const int areaWidth = pageWidth - left - (fill ? 0 : margins[2]);
  const int areaHeight = pageHeight - top - (fill ? 0 : margins[3]);
  double scale;
  const double natural = static_cast<double>(dpi) / (ppi > 0 ? ppi : kScreenPpi);
  const bool fits = ppi > 0 && w * natural <= areaWidth && h * natural <= areaHeight;
  if (scaling == PAPPL_SCALING_NONE || ((scaling == PAPPL_SCALING_AUTO ||
                                         scaling == PAPPL_SCALING_AUTO_FIT) && fits)) {
    scale = natural;
  } else if (fill) {
    scale = std::max(areaWidth / w, areaHeight / h);
  } else {
    scale = std::min(areaWidth / w, areaHeight / h);
  }
  p.width = std::max(1, static_cast<int>(std::lround(w * scale)));
  p.height = std::max(1, static_cast<int>(std::lround(h * scale)));
  p.x = left + (areaWidth - p.width) / 2;
  p.y = top + (areaHeight - p.height) / 2;
  return p;
}

bool ImageFilter(pappl_job_t* job, pappl_device_t* device, void* /*data*/) {
  return GuardJob(job, "The image job", [&] {
    JobClaim claim(job);
    if (!claim.Held()) return true;
    const std::string path = JobDocument(job);
    return !path.empty() && PrintImage(job, device, path);
  });
}

}  // namespace lumora::app
