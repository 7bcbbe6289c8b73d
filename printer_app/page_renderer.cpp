// SPDX-License-Identifier: GPL-2.0-or-later
#include "page_renderer.h"

#include <cstddef>  // ghostscript's headers use size_t

#include <ghostscript/gdevdsp.h>
#include <ghostscript/gserrors.h>
#include <ghostscript/iapi.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "byte_output.h"

namespace lumora::app {

namespace {

// 8-bit gray, white 255, top row first, rows aligned as ghostscript likes.
constexpr unsigned kGrayFormat =
    DISPLAY_COLORS_GRAY | DISPLAY_ALPHA_NONE | DISPLAY_DEPTH_8 | DISPLAY_BIGENDIAN |
    DISPLAY_TOPFIRST | DISPLAY_ROW_ALIGN_DEFAULT;

struct RenderState {
  uint8_t* memory = nullptr;
  size_t slotBytes = 0;
  unsigned next = 0;   // the slot the next page goes to
  unsigned given = 0;  // slots the job holds
  int band = 0;   // rows ghostscript draws at once
  int drawn = 0;  // rows of the page in slot `next` asked for so far
  int width = 0;
  int height = 0;
  int raster = 0;
  display_callback callbacks{};  // what ghostscript's display device calls
};

int NoInput(void*, char*, int) { return 0; }
int ToStderr(void*, const char* text, int len) {
  lumora::WriteFully(2, text, static_cast<size_t>(len));
  return len;
}

int Ignore(void*, void*) { return 0; }
int Presize(void* handle, void*, int width, int height, int raster, unsigned format) {
  RenderState& s = *static_cast<RenderState*>(handle);
  s.width = width;
  s.height = height;
  s.raster = raster;
  return format == kGrayFormat ? 0 : gs_error_rangecheck;
}
// No bitmap of ghostscript's own: it draws in bands straight into the
// rectangle it asks for, which is the slot (RectangleRequest).
void* NoBitmap(void*, void*, size_t) { return nullptr; }
int NoFree(void*, void*, void*) { return 0; }
int Sized(void*, void*, int, int, int, unsigned, unsigned char*) { return 0; }
int Shown(void*, void*, int, int) { return 0; }

// Waits until the job gives a slot back when it holds every one; false
// when the job has gone.
bool FreeSlot(RenderState& s) {
  if (s.given < kRenderSlots) return true;
  char freed = 0;
  ssize_t n;
  while ((n = read(0, &freed, 1)) < 0 && errno == EINTR) {
  }
  if (n != 1) return false;
  --s.given;
  return true;
}

// Ghostscript draws in bands of this many rows.
int BandHeight(void* handle, void*, int rows) {
  static_cast<RenderState*>(handle)->band = rows;
  return 0;
}

bool Say(const char* format, int a, int b = 0, int c = 0, int d = 0) {
  char line[96];
  const int len = snprintf(line, sizeof line, format, a, b, c, d);
  return len > 0 && lumora::WriteFully(1, line, static_cast<size_t>(len));
}

// Ghostscript asks where to draw: a band of the page at a time, into the
// next slot once the job has given it back. The page is named to the job
// before its first band, and each question after says the band before is
// drawn; the one after the last band is told there is nothing more to draw.
int RectangleRequest(void* handle, void*, void** memory, int* ox, int* oy, int* raster,
                     int* planeRaster, int* x, int* y, int* w, int* h) {
  RenderState& s = *static_cast<RenderState*>(handle);
  *ox = *x = *planeRaster = 0;
  if (s.drawn == 0) {
    const size_t bytes = static_cast<size_t>(s.raster) * static_cast<size_t>(s.height);
    if (s.width <= 0 || s.height <= 0 || bytes > s.slotBytes) return gs_error_rangecheck;
    if (!FreeSlot(s)) return gs_error_ioerror;  // the job has gone
    if (!Say("page %d %d %d %d\n", static_cast<int>(s.next), s.width, s.height, s.raster)) {
      return gs_error_ioerror;
    }
  } else {
    if (!Say("rows %d\n", s.drawn)) return gs_error_ioerror;
    if (s.drawn >= s.height) {
      s.drawn = 0;
      s.next = (s.next + 1) % kRenderSlots;
      ++s.given;
      *oy = *y = *w = *h = 0;
      return 0;
    }
  }
  // The block starts at the band's first row.
  *memory = s.memory + s.next * s.slotBytes + static_cast<size_t>(s.drawn) * s.raster;
  *raster = s.raster;
  *oy = *y = s.drawn;
  *w = s.width;
  *h = std::min(s.band > 0 ? s.band : s.height, s.height - s.drawn);
  s.drawn += *h;
  return 0;
}

display_callback MakeCallbacks() {
  display_callback c{};
  c.size = sizeof c;
  c.version_major = DISPLAY_VERSION_MAJOR;
  c.version_minor = DISPLAY_VERSION_MINOR;
  c.display_open = Ignore;
  c.display_preclose = Ignore;
  c.display_close = Ignore;
  c.display_presize = Presize;
  c.display_size = Sized;  // (ghostscript asks for these two, needed or not)
  c.display_sync = Ignore;
  c.display_page = Shown;
  c.display_memalloc = NoBitmap;  // with its free: else not asked at all
  c.display_memfree = NoFree;
  c.display_rectangle_request = RectangleRequest;
  c.display_adjust_band_height = BandHeight;
  return c;
}

int Callout(void*, void* handle, const char* device, int id, int, void* data) {
  if (!device || strcmp(device, "display") != 0 || id != DISPLAY_CALLOUT_GET_CALLBACK) {
    return gs_error_unknownerror;
  }
  RenderState& s = *static_cast<RenderState*>(handle);
  s.callbacks = MakeCallbacks();
  auto* get = static_cast<gs_display_get_callback_t*>(data);
  get->callback = &s.callbacks;
  get->caller_handle = handle;
  return 0;
}

// The shared memory, mapped: false when there is none.
bool MapSlots(RenderState& s) {
  struct stat st {};
  if (fstat(kRenderMemoryFd, &st) != 0 || st.st_size < static_cast<off_t>(kRenderSlots)) {
    return false;
  }
  void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
                 kRenderMemoryFd, 0);
  if (p == MAP_FAILED) return false;
  s.memory = static_cast<uint8_t*>(p);
  s.slotBytes = static_cast<size_t>(st.st_size) / kRenderSlots;
  return true;
}

}  // namespace

int RunPageRenderer(int argc, char* argv[]) {
  RenderState state;
  if (argc < 1 || !MapSlots(state)) {
    fprintf(stderr, "ERROR: The page renderer has no memory shared with its job.\n");
    return 2;
  }
  const std::string format = "-dDisplayFormat=" + std::to_string(kGrayFormat);
  std::vector<char*> args = {argv[0], const_cast<char*>("-sDEVICE=display"),
                             const_cast<char*>(format.c_str())};
  args.insert(args.end(), argv + 1, argv + argc);
  void* gs = nullptr;
  if (gsapi_new_instance(&gs, &state) < 0) {
    fprintf(stderr, "ERROR: Ghostscript cannot start.\n");
    return 2;
  }
  gsapi_set_stdio_with_handle(gs, NoInput, ToStderr, ToStderr, &state);
  gsapi_set_arg_encoding(gs, GS_ARG_ENCODING_UTF8);
  gsapi_register_callout(gs, Callout, &state);
  int code = gsapi_init_with_args(gs, static_cast<int>(args.size()), args.data());
  const int exitCode = gsapi_exit(gs);
  if (code == 0 || code == gs_error_Quit) code = exitCode;
  gsapi_delete_instance(gs);
  return code == 0 ? 0 : 1;
}

}  // namespace lumora::app
