// SPDX-License-Identifier: GPL-2.0-or-later
// The pages of a document rendered by several renderer processes at once,
// read back in page order: renderer k of n renders the pages k+1, k+1+n,
// ... and the pages are taken from the renderers in turn. A renderer draws
// its next page while the job encodes another's.
#pragma once

#include <cups/raster.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumora::app {

// The renderers' command lines for a ghostscript command line `args` that
// renders the whole document (its last two words "-f FILE"): one per
// renderer, with -sPageList=odd and even where two render at once. A job of
// a page range (-dFirstPage, -dLastPage) renders on one.
std::vector<std::vector<std::string>> RendererArgs(const std::vector<std::string>& args,
                                                   unsigned renderers);

// How many renderers a PDF job uses on this machine: two from four cores
// up, else one (LUMORA_APP_RENDERERS=N sets it).
unsigned RendererCount();

// The page header of a rendered page: 8-bit gray at dpi on a paper of
// width x height points, as a PWG raster file of it would give it. The
// size in pixels is the page's own.
cups_page_header2_t GrayPageHeader(int dpi, int width, int height);

// The pages of renderers run as page_renderer.h tells: each page is read
// from the memory the job shares with its renderer.
class RenderedPages {
 public:
  RenderedPages() = default;
  RenderedPages(const RenderedPages&) = delete;
  RenderedPages& operator=(const RenderedPages&) = delete;
  ~RenderedPages() { Finish(true); }

  // Starts one renderer per command line, for pages of the paper and
  // resolution of `page` (its header as well); false when one cannot start
  // (those started are stopped).
  bool Start(const std::vector<std::vector<std::string>>& renderers,
             const cups_page_header2_t& page = GrayPageHeader(600, 612, 792));
  // The next page in document order: 1 and its header, 0 at the end.
  unsigned ReadHeader2(cups_page_header2_t* header);
  // The next row of that page (cupsBytesPerLine bytes, valid until the
  // next page is asked for), once it is drawn; nullptr past its end.
  const uint8_t* NextRow();
  // While waiting for a renderer: true when the job wants no more pages
  // (cancelled); the pages then end.
  void StopWhen(std::function<bool()> stopped) { stopped_ = std::move(stopped); }
  // Stops (kill) or waits for the renderers; 0 when every one succeeded
  // and the job read every page it drew (a renderer that drew more pages
  // than the job read, or said what is not a page, lost pages: -1).
  int Finish(bool kill);

 private:
  struct Renderer {
    pid_t pid = -1;
    int socket = -1;  // its standard input and output
    uint8_t* memory = nullptr;
    size_t memoryBytes = 0;
    size_t slotBytes = 0;
    unsigned given = 0;   // slots it gave the job, not yet given back
    unsigned unread = 0;  // pages the job did not read
    bool bad = false;     // it said what is not a page
    const uint8_t* page = nullptr;  // the page the job reads
    unsigned rows = 0;
    unsigned raster = 0;
    unsigned row = 0;    // the next row the job reads
    unsigned ready = 0;  // rows the renderer has drawn
    std::string inbox;   // what it said, not yet read as lines
  };
  bool Launch(Renderer& r, const std::vector<std::string>& args);
  int ReadLine(Renderer& r, std::string* line);
  int Hear(Renderer& r, unsigned* values);
  int ReadPage(Renderer& r, unsigned* width, unsigned* height);
  static void GiveBack(Renderer& r);
  int Stop(Renderer& r, bool kill);

  std::vector<std::unique_ptr<Renderer>> renderers_;
  std::function<bool()> stopped_;
  cups_page_header2_t page_{};
  Renderer* current_ = nullptr;
  size_t next_ = 0;
  bool done_ = false;
};

}  // namespace lumora::app
