// rastertoLumora: CUPS raster in, the printer's job stream out.
#include <csignal>

#include "page_loop.h"

int main(int argc, char* argv[]) {
  // A printer that goes away is a write error, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  return RasterToLumoraJob(argc, argv);
}
