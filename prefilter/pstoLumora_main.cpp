// SPDX-License-Identifier: GPL-2.0-or-later
// pstoLumora: the PostScript pre-filter run by the CUPS scheduler.
#include "ps_filter.h"

int main(int argc, char* argv[]) {
  InstallPrefilterSignals();
  lumora::FdOutput device(1);
  lumora::StderrLog log;
  PsFilterIo io;
  io.device = &device;
  io.log = &log;
  io.inFd = 0;
  return pstoLumoraJob(argc, argv, io);
}
