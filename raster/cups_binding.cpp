#include "cups_binding.h"

#include <dlfcn.h>

void* m_hCUPS = nullptr;
void* m_hCUPSImage = nullptr;

ppd_file_t* (*pfppdOpenFile)(const char*) = ppdOpenFile;
void (*pfppdClose)(ppd_file_t*) = ppdClose;
const char* (*pfppdLocalizeIPPReason)(ppd_file_t*, const char*, const char*, char*, size_t) =
    ppdLocalizeIPPReason;
const char* (*pfcupsGetOption)(const char*, int, cups_option_t*) = cupsGetOption;
int (*pfcupsParseOptions)(const char*, int, cups_option_t**) = cupsParseOptions;
int (*pfcupsTempFd)(char*, int) = cupsTempFd;

cups_raster_t* (*pfcupsRasterOpen)(int, cups_mode_t) = cupsRasterOpen;
unsigned (*pfcupsRasterReadHeader2)(cups_raster_t*, cups_page_header2_t*) = cupsRasterReadHeader2;
unsigned (*pfcupsRasterReadPixels)(cups_raster_t*, unsigned char*, unsigned) = cupsRasterReadPixels;
void (*pfcupsRasterClose)(cups_raster_t*) = cupsRasterClose;

namespace {

// Binds one pointer from the handle, or to the linked function.
template <typename Fn>
void Bind(void* handle, const char* name, Fn*& slot, Fn* linked) {
  if (handle != nullptr) {
    void* sym = dlsym(handle, name);
    // A library at the expected path without the symbol would leave a null
    // pointer to call later; take the linked function instead.
    slot = sym != nullptr ? reinterpret_cast<Fn*>(sym) : linked;
  } else {
    slot = linked;
  }
}

void CloseHandle(void*& handle) {
  if (handle != nullptr) {
    dlclose(handle);
    handle = nullptr;
  }
}

}  // namespace

int InitCUPSIMAGEDLL() {
  CloseHandle(m_hCUPSImage);
  m_hCUPSImage = dlopen("/usr/lib/libcupsimage.so", RTLD_LAZY);
  Bind(m_hCUPSImage, "cupsRasterReadPixels", pfcupsRasterReadPixels, cupsRasterReadPixels);
  Bind(m_hCUPSImage, "cupsRasterClose", pfcupsRasterClose, cupsRasterClose);
  Bind(m_hCUPSImage, "cupsRasterReadHeader2", pfcupsRasterReadHeader2, cupsRasterReadHeader2);
  Bind(m_hCUPSImage, "cupsRasterOpen", pfcupsRasterOpen, cupsRasterOpen);
  return m_hCUPSImage != nullptr ? 1 : 0;
}

int InitCUPSDLL() {
  CloseHandle(m_hCUPS);
  m_hCUPS = dlopen("/usr/lib/libcups.so", RTLD_LAZY);
  Bind(m_hCUPS, "ppdClose", pfppdClose, ppdClose);
  Bind(m_hCUPS, "ppdOpenFile", pfppdOpenFile, ppdOpenFile);
  Bind(m_hCUPS, "ppdLocalizeIPPReason", pfppdLocalizeIPPReason, ppdLocalizeIPPReason);
  Bind(m_hCUPS, "cupsGetOption", pfcupsGetOption, cupsGetOption);
  Bind(m_hCUPS, "cupsParseOptions", pfcupsParseOptions, cupsParseOptions);
  Bind(m_hCUPS, "cupsTempFd", pfcupsTempFd, cupsTempFd);
  return m_hCUPS != nullptr ? 1 : 0;
}

void CloseCUPSDLLs() {
  CloseHandle(m_hCUPS);
  CloseHandle(m_hCUPSImage);
}
