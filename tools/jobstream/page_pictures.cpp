// SPDX-License-Identifier: GPL-2.0-or-later
// PBM and PNG files of decoded pages.
#include "page_pictures.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lumora::inspect {

std::string PagePictureBase(const Page& page) {
  char name[32];
  std::snprintf(name, sizeof name, "page-%03zu", page.index);
  return name;
}

namespace {

std::string Failed(const std::string& path, const char* what) {
  return "cannot " + std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool HasPicture(const Page& page) {
  return page.decoded && page.bits.size() == page.bytesPerRow * page.height && page.height > 0;
}

// Writes rows with libpng; only plain C data lives across setjmp.
bool PngRows(FILE* file, unsigned width, unsigned height, int depth, size_t rowBytes,
             const uint8_t* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (unsigned y = 0; y < height; y++)
    png_write_row(png, const_cast<png_bytep>(rows + size_t(y) * rowBytes));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string WritePagePbm(const Page& page, const std::string& path) {
  if (!HasPicture(page)) return "page " + std::to_string(page.index) + " has no decoded picture";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return Failed(path, "create");
  unsigned bitWidth = page.width * unsigned(page.bitsPerPixel);
  bool ok = std::fprintf(file, "P4\n%u %u\n", bitWidth, page.height) > 0 &&
            std::fwrite(page.bits.data(), 1, page.bits.size(), file) == page.bits.size();
  ok = (std::fclose(file) == 0) && ok;
  if (!ok) {
    std::string why = Failed(path, "write");
    std::remove(path.c_str());
    return why;
  }
  return "";
}

std::string WritePagePng(const Page& page, const std::string& path) {
  if (!HasPicture(page)) return "page " + std::to_string(page.index) + " has no decoded picture";
  // PNG gray: 0 is black. Inverting the toner bits gives the 1-bit and the
  // 2-bit (3 - level) gray samples at once.
  std::vector<uint8_t> rows(page.bits.size());
  for (size_t i = 0; i < rows.size(); i++) rows[i] = uint8_t(~page.bits[i]);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return Failed(path, "create");
  bool ok = PngRows(file, page.width, page.height, page.bitsPerPixel, page.bytesPerRow, rows.data());
  ok = (std::fclose(file) == 0) && ok;
  if (!ok) {
    std::string why = Failed(path, "write");
    std::remove(path.c_str());
    return why;
  }
  return "";
}

}  // namespace lumora::inspect
