// SPDX-License-Identifier: GPL-2.0-or-later
// The pages of a document rendered by several ghostscript processes at
// once, read back in page order: renderer k of n renders the pages k+1,
// k+1+n, ... and the pages are taken from the renderers in turn. A thread
// per renderer drains its output as it comes into a bounded buffer, so a
// renderer goes on with its next page while the job encodes another's; the
// pages are read with lumora::RasterReader.
#pragma once

#include <cups/raster.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "raster_reader.h"

namespace lumora::app {

// The renderers' command lines for a ghostscript command line `args` that
// renders the whole document (its last two words "-f FILE"): one per
// renderer, with -sPageList=odd and even where two render at once. A job of
// a page range (-dFirstPage, -dLastPage) renders on one.
std::vector<std::vector<std::string>> RendererArgs(const std::vector<std::string>& args,
                                                   unsigned renderers);

// How many renderers a PDF job uses on this machine: two from two cores up
// (LUMORA_APP_RENDERERS=N sets it).
unsigned RendererCount();

class RenderedPages {
 public:
  // Bytes of rendered raster each renderer may hold ahead of the job.
  static constexpr size_t kAheadBytes = size_t{48} << 20;

  RenderedPages() = default;
  RenderedPages(const RenderedPages&) = delete;
  RenderedPages& operator=(const RenderedPages&) = delete;
  ~RenderedPages() { Finish(true); }

  // Starts one renderer per command line; false when one cannot start
  // (those started are stopped).
  bool Start(const std::vector<std::vector<std::string>>& renderers);
  // The next page in document order: 1 and its header, 0 at the end.
  unsigned ReadHeader2(cups_page_header2_t* header);
  // Lines of that page, as RasterReader::ReadPixels.
  unsigned ReadPixels(unsigned char* p, unsigned len);
  // Stops (kill) or waits for the renderers; 0 when every one succeeded
  // and the job read all it wrote (a renderer that wrote more than the
  // pages read, such as messages among its raster, lost pages: -1). A
  // renderer waited for is read to its end, never left on a closed pipe.
  int Finish(bool kill);

 private:
  struct Renderer {
    pid_t pid = -1;
    int out = -1;
    std::thread drain;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> chunks;
    size_t front = 0;  // bytes of chunks.front() already read
    size_t held = 0;
    bool ended = false;   // the renderer's output has ended
    bool stop = false;    // the job wants no more of it
    bool rest = false;    // the job reads no more: the rest is drained, unread
    size_t unread = 0;    // bytes the job did not read
    std::unique_ptr<lumora::RasterReader> reader;
    bool opened = false;
  };
  static void Drain(Renderer* r);
  static ssize_t Read(void* context, void* buffer, size_t n);
  static int Stop(Renderer& r, bool kill);

  std::vector<std::unique_ptr<Renderer>> renderers_;
  lumora::RasterReader* current_ = nullptr;
  size_t next_ = 0;
  bool done_ = false;
};

}  // namespace lumora::app
