// SPDX-License-Identifier: GPL-2.0-or-later
// pstoLumora: the PostScript pre-filter run by the CUPS scheduler.
#include "prefilter_job.h"

int main(int argc, char* argv[]) {
  InstallPrefilterSignals();
  return pstoLumoraJob(argc, argv, 0, 1);
}
