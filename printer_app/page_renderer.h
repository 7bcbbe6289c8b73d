// SPDX-License-Identifier: GPL-2.0-or-later
// The renderer of a PDF job's pages: a process of its own (the program run
// as "lumora-printer-app render-pages GHOSTSCRIPT-ARGS..."), ghostscript's
// library inside, drawing each page as 8-bit gray into memory it shares
// with the job. The page never goes through a pipe: a pipe moved 1.4 GB for
// a 42-page document, which cost as much as drawing it.
//
// What the job and the renderer say to each other, on the renderer's
// standard input and output (one socket):
//   renderer: "page SLOT WIDTH HEIGHT RASTER\n" as it starts drawing a page
//             into SLOT of the shared memory (HEIGHT rows of RASTER bytes,
//             WIDTH gray bytes each), then "rows N\n" each time the first N
//             rows are drawn, up to HEIGHT; at the end of the document its
//             output ends.
//   job:      one byte when it is done with the oldest slot it was given.
// The shared memory is descriptor 3: kRenderSlots slots of equal size, used
// in turn. Ghostscript's own messages go to standard error.
#pragma once

namespace lumora::app {

constexpr const char* kRenderCommand = "render-pages";
constexpr unsigned kRenderSlots = 1;
constexpr int kRenderMemoryFd = 3;

// The render-pages command: argv holds ghostscript's arguments (argv[0]
// as its program name). The exit status: 0 when every page was drawn.
int RunPageRenderer(int argc, char* argv[]);

}  // namespace lumora::app
