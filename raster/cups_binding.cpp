// SPDX-License-Identifier: GPL-2.0-or-later
#include "cups_binding.h"

#include <dlfcn.h>

namespace lumora {

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

bool CupsBinding::InitCUPSDLL() {
  CloseHandle(m_hCUPS);
  m_hCUPS = dlopen("/usr/lib/libcups.so", RTLD_LAZY);
  Bind(m_hCUPS, "ppdClose", pfppdClose, ppdClose);
  Bind(m_hCUPS, "ppdOpenFile", pfppdOpenFile, ppdOpenFile);
  Bind(m_hCUPS, "ppdLocalizeIPPReason", pfppdLocalizeIPPReason, ppdLocalizeIPPReason);
  Bind(m_hCUPS, "cupsGetOption", pfcupsGetOption, cupsGetOption);
  Bind(m_hCUPS, "cupsParseOptions", pfcupsParseOptions, cupsParseOptions);
  Bind(m_hCUPS, "cupsTempFd", pfcupsTempFd, cupsTempFd);
  return m_hCUPS != nullptr;
}

void CupsBinding::CloseCUPSDLLs() {
  CloseHandle(m_hCUPS);
}

}  // namespace lumora
