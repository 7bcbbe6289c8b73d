// SPDX-License-Identifier: GPL-2.0-or-later
// pstoLumora: the PostScript pre-filter run by the CUPS scheduler.
#include "ps_filter.h"

int main(int argc, char* argv[]) {
  using namespace lumora;
  InstallPrefilterSignals();
  FdOutput device(1);
  StderrLog log;
  PsFilterIo io;
  io.device = &device;
  io.log = &log;
  io.inFd = 0;
  return PsToLumoraJob(argc, argv, io);
}
