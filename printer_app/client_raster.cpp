// SPDX-License-Identifier: GPL-2.0-or-later
// A client's PWG or Apple raster, read with lumora::RasterReader.
//
// PAPPL 1.3.1 prints a client's image/pwg-raster or image/urf document in
// the client's thread while the request body still comes in: it opens the
// body with cupsRasterOpenIO(httpRead, http, CUPS_RASTER_READ) and reads it
// with cupsRasterReadHeader2 and cupsRasterReadPixels until
// cupsRasterClose; no other raster function sees that stream. The program
// defines those four functions and exports them (CMakeLists.txt), so
// libpappl's calls reach these. A stream opened for reading becomes a
// RasterReader over the same read function: the same headers, lines and
// return values as the CUPS library's, compressed lines decoded many times
// faster. Every other stream (the PostScript printers' PWG raster writer)
// is the library's and goes to its own functions.
//
// A stream is known as a reader of ours by the table of open readers: a
// stream of the library is never read to find out whose it is.
#include <cups/raster.h>
#include <dlfcn.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "raster_reader.h"

namespace {

// A read stream: the caller's read function and the reader over it.
class ClientRaster {
 public:
  ClientRaster(cups_raster_iocb_t read, void* context)
      : read_(read), context_(context), reader_(&ClientRaster::Read, this) {}
  ClientRaster(const ClientRaster&) = delete;
  ClientRaster& operator=(const ClientRaster&) = delete;

  lumora::RasterReader& Reader() { return reader_; }

 private:
  // The library gives up at the first failed read of a read function; the
  // reader would read again after EINTR or EAGAIN (a descriptor's rules),
  // and httpRead's errno is not its own.
  static ssize_t Read(void* self, void* buffer, size_t n) {
    auto* raster = static_cast<ClientRaster*>(self);
    const ssize_t got = raster->read_(raster->context_, static_cast<unsigned char*>(buffer), n);
    if (got < 0) errno = EIO;
    return got;
  }

  cups_raster_iocb_t read_;
  void* context_;
  lumora::RasterReader reader_;  // last: its constructor reads through read_
};

// The readers open in the process, under one lock (a client's thread opens,
// reads and closes its own; other clients' threads do the same at once).
class OpenReaders {
 public:
  cups_raster_t* Add(std::unique_ptr<ClientRaster> raster) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.insert(raster.get());
    return reinterpret_cast<cups_raster_t*>(raster.release());
  }
  ClientRaster* Find(cups_raster_t* stream) {
    auto* raster = reinterpret_cast<ClientRaster*>(stream);
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.count(raster) != 0 ? raster : nullptr;
  }
  // The reader, no longer in the table; null for a stream of the library.
  std::unique_ptr<ClientRaster> Remove(cups_raster_t* stream) {
    auto* raster = reinterpret_cast<ClientRaster*>(stream);
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(raster) == 0) return nullptr;
    return std::unique_ptr<ClientRaster>(raster);
  }

 private:
  std::mutex mutex_;
  std::unordered_set<ClientRaster*> open_;
};

// Never destroyed: a client's thread may still read while the process exits.
OpenReaders& Readers() {
  static auto* readers = new OpenReaders;
  return *readers;
}

// The CUPS library's definition of a function the program replaces.
template <typename Function>
Function Library(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" cups_raster_t* cupsRasterOpenIO(cups_raster_iocb_t iocb, void* ctx, cups_mode_t mode) {
  if (mode == CUPS_RASTER_READ && iocb != nullptr) {
    try {
      auto raster = std::make_unique<ClientRaster>(iocb, ctx);
      if (!raster->Reader().IsOpen()) return nullptr;
      return Readers().Add(std::move(raster));
    } catch (...) {  // (out of memory: nothing may be thrown into libpappl)
      return nullptr;
    }
  }
  static const auto library = Library<decltype(&cupsRasterOpenIO)>("cupsRasterOpenIO");
  return library != nullptr ? library(iocb, ctx, mode) : nullptr;
}

extern "C" unsigned cupsRasterReadHeader2(cups_raster_t* r, cups_page_header2_t* h) {
  if (ClientRaster* raster = Readers().Find(r)) return raster->Reader().ReadHeader2(h);
  static const auto library = Library<decltype(&cupsRasterReadHeader2)>("cupsRasterReadHeader2");
  return library != nullptr ? library(r, h) : 0;
}

extern "C" unsigned cupsRasterReadPixels(cups_raster_t* r, unsigned char* p, unsigned len) {
  if (ClientRaster* raster = Readers().Find(r)) return raster->Reader().ReadPixels(p, len);
  static const auto library = Library<decltype(&cupsRasterReadPixels)>("cupsRasterReadPixels");
  return library != nullptr ? library(r, p, len) : 0;
}

extern "C" void cupsRasterClose(cups_raster_t* r) {
  if (Readers().Remove(r)) return;
  static const auto library = Library<decltype(&cupsRasterClose)>("cupsRasterClose");
  if (library != nullptr) library(r);
}
