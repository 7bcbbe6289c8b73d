// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS entry points the raster filter reads the queue's PPD and the
// job's options with. They are bound at start-up from the CUPS library
// opened by path, falling back to the functions the program is linked with
// when that library is not at that path. The filter owns one binding; it
// closes the library it opened. (The raster stream itself is read by
// RasterReader, which gives the CUPS imaging library's results faster.)
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

namespace lumora {

class CupsBinding {
 public:
  CupsBinding() = default;
  ~CupsBinding() { CloseCUPSDLLs(); }
  CupsBinding(const CupsBinding&) = delete;
  CupsBinding& operator=(const CupsBinding&) = delete;

  // True when bound from the opened library, false when it fell back to
  // the linked functions.
  bool InitCUPSDLL();
  // Closes the library handle.
  void CloseCUPSDLLs();

  ppd_file_t* (*pfppdOpenFile)(const char*) = ppdOpenFile;
  void (*pfppdClose)(ppd_file_t*) = ppdClose;
  const char* (*pfppdLocalizeIPPReason)(ppd_file_t*, const char*, const char*, char*, size_t) =
      ppdLocalizeIPPReason;
  const char* (*pfcupsGetOption)(const char*, int, cups_option_t*) = cupsGetOption;
  int (*pfcupsParseOptions)(const char*, int, cups_option_t**) = cupsParseOptions;
  int (*pfcupsTempFd)(char*, int) = cupsTempFd;

 private:
  void* m_hCUPS = nullptr;
};

}  // namespace lumora
