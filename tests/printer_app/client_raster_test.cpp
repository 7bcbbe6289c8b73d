// SPDX-License-Identifier: GPL-2.0-or-later
// A client's raster through the program's own cupsRasterOpenIO,
// cupsRasterReadHeader2, cupsRasterReadPixels and cupsRasterClose
// (printer_app/client_raster.cpp, linked into this test as into the
// program), in lock step with the CUPS library's.
#include <cups/raster.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace lumora::test::app {
namespace {

// A request body as httpRead hands it out: chunk bytes at most per call,
// then -1 (with errno EAGAIN) from byte failAt on, or 0 at the end.
struct Body {
  const std::string* data;
  size_t chunk;
  size_t failAt;
  size_t pos = 0;
};

ssize_t ReadBody(void* context, unsigned char* buffer, size_t n) {
  auto* body = static_cast<Body*>(context);
  if (body->pos >= body->failAt) {
    errno = EAGAIN;
    return -1;
  }
  n = std::min({n, body->chunk, body->data->size() - body->pos, body->failAt - body->pos});
  std::memcpy(buffer, body->data->data() + body->pos, n);
  body->pos += n;
  return static_cast<ssize_t>(n);
}

struct Functions {
  decltype(&cupsRasterOpenIO) open;
  decltype(&cupsRasterReadHeader2) header;
  decltype(&cupsRasterReadPixels) pixels;
  decltype(&cupsRasterClose) close;
};

template <typename Function>
Function Library(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Every header, line and return value, as PAPPL reads a client's raster.
std::string ReadAll(const Functions& f, Body body) {
  cups_raster_t* ras = f.open(ReadBody, &body, CUPS_RASTER_READ);
  if (ras == nullptr) return "not opened";
  std::string all;
  cups_page_header2_t h;
  while (f.header(ras, &h)) {
    all.append(reinterpret_cast<const char*>(&h), sizeof h);
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; y++) {
      const unsigned got = f.pixels(ras, line.data(), h.cupsBytesPerLine);
      all += std::to_string(got);
      all.append(line.begin(), line.end());
    }
  }
  f.close(ras);
  return all;
}

// PWG, Apple and CUPS raster, whole or cut or failing in the middle of the
// second page, in read sizes from one byte to more than the stream: the
// same results as the library's; a read that fails ends the stream. The
// three forms are read at once, as clients' threads do. (The library's
// writer, closed through the program's cupsRasterClose, writes them.)
TEST(ClientRaster, ReadsAsTheLibraryWhateverTheReadSizes) {
  const Functions ours{cupsRasterOpenIO, cupsRasterReadHeader2, cupsRasterReadPixels,
                       cupsRasterClose};
  const Functions library{Library<decltype(&cupsRasterOpenIO)>("cupsRasterOpenIO"),
                          Library<decltype(&cupsRasterReadHeader2)>("cupsRasterReadHeader2"),
                          Library<decltype(&cupsRasterReadPixels)>("cupsRasterReadPixels"),
                          Library<decltype(&cupsRasterClose)>("cupsRasterClose")};
  ASSERT_TRUE(library.open && library.header && library.pixels && library.close);
  ASSERT_NE(ours.open, library.open);
  TempDir dir;
  std::vector<lumora::test::RasterPage> pages(2, lumora::test::PageOfSize(72, 72, 300, 200));
  pages[0].pixel = [](unsigned x, unsigned y) { return static_cast<uint8_t>(x / 50 * 40 + y % 3); };
  pages[1].pixel = [](unsigned x, unsigned y) { return static_cast<uint8_t>(x * y % 7 ? 255 : 0); };
  const cups_mode_t modes[] = {CUPS_RASTER_WRITE_PWG, CUPS_RASTER_WRITE_APPLE, CUPS_RASTER_WRITE};
  std::vector<std::string> streams;
  for (cups_mode_t mode : modes) {
    lumora::test::WriteRaster(dir.File("in.ras"), pages, mode);
    streams.push_back(lumora::test::ReadFile(dir.File("in.ras")));
  }
  auto check = [&](const std::string& stream) {
    const std::string cut = stream.substr(0, stream.size() * 3 / 4);
    for (size_t chunk : {size_t{1}, size_t{5}, size_t{4096}, stream.size() + 1}) {
      for (const Body& body : {Body{&stream, chunk, stream.size() + 1},
                               Body{&cut, chunk, cut.size() + 1},
                               Body{&stream, chunk, stream.size() * 3 / 4}, Body{&stream, chunk, 2}}) {
        SCOPED_TRACE(stream.substr(0, 4) + ", " + std::to_string(body.data->size()) +
                     " bytes, reads of " + std::to_string(chunk) + ", failing at " +
                     std::to_string(body.failAt));
        const std::string expected = ReadAll(library, body);
        EXPECT_TRUE(ReadAll(ours, body) == expected);
        if (body.data == &stream && body.failAt > stream.size()) {
          EXPECT_GT(expected.size(), 2 * 300 * 200u);
        }
      }
    }
  };
  std::vector<std::thread> clients;
  for (const std::string& stream : streams) clients.emplace_back(check, std::cref(stream));
  for (std::thread& client : clients) client.join();
}

}  // namespace
}  // namespace lumora::test::app
