// SPDX-License-Identifier: GPL-2.0-or-later
// rastertoLumora: CUPS raster in, the printer's job stream out.
#include <csignal>

#include "cups_filter.h"

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  lumora::FdOutput device(1);
  lumora::StderrLog log;
  lumora::FilterIo io;
  io.device = &device;
  io.log = &log;
  io.deviceFd = 1;
  return lumora::RasterToLumoraJob(argc, argv, io);
}
