// The CUPS entry points the raster filter reads its input with. They are
// bound at start-up from the CUPS libraries opened by path, falling back to
// the functions the program is linked with when those libraries are not at
// that path. The filter owns one binding; it closes the libraries it opened.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

class CupsBinding {
 public:
  CupsBinding() = default;
  ~CupsBinding() { CloseCUPSDLLs(); }
  CupsBinding(const CupsBinding&) = delete;
  CupsBinding& operator=(const CupsBinding&) = delete;

  // Each returns 1 when bound from the opened library, 0 when it fell back
  // to the linked functions.
  int InitCUPSDLL();
  int InitCUPSIMAGEDLL();
  // Closes both library handles.
  void CloseCUPSDLLs();

  ppd_file_t* (*pfppdOpenFile)(const char*) = ppdOpenFile;
  void (*pfppdClose)(ppd_file_t*) = ppdClose;
  const char* (*pfppdLocalizeIPPReason)(ppd_file_t*, const char*, const char*, char*, size_t) =
      ppdLocalizeIPPReason;
  const char* (*pfcupsGetOption)(const char*, int, cups_option_t*) = cupsGetOption;
  int (*pfcupsParseOptions)(const char*, int, cups_option_t**) = cupsParseOptions;
  int (*pfcupsTempFd)(char*, int) = cupsTempFd;

  cups_raster_t* (*pfcupsRasterOpen)(int, cups_mode_t) = cupsRasterOpen;
  unsigned (*pfcupsRasterReadHeader2)(cups_raster_t*, cups_page_header2_t*) = cupsRasterReadHeader2;
  unsigned (*pfcupsRasterReadPixels)(cups_raster_t*, unsigned char*, unsigned) =
      cupsRasterReadPixels;
  void (*pfcupsRasterClose)(cups_raster_t*) = cupsRasterClose;

 private:
  void* m_hCUPS = nullptr;
  void* m_hCUPSImage = nullptr;
};
