// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_address.h"

#include <arpa/inet.h>
#include <cups/http.h>
#include <dlfcn.h>
#include <netdb.h>

#include <cstring>
#include <memory>
#include <vector>

#include "side_log.h"

namespace lumora {

namespace {

// int (*cb)(void*) and its context are unused (no callback).
using HttpResolveUriFn = const char* (*)(const char* uri, char* resolved, size_t resolvedSize,
                                         int options, int (*cb)(void*), void* context);

constexpr int kResolveOptions = 15;
constexpr size_t kUriPartSize = 1024;

struct DlCloser {
  void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlCloser>;

LibraryHandle OpenLibrary(const char* name) { return LibraryHandle(dlopen(name, RTLD_LAZY)); }

// Steps shared by both host look-ups once the library is open.
int ResolveAndSplit(LogOutput& log, void* library, const char* uri, char* host, int* port, bool showPort) {
  auto resolve = reinterpret_cast<HttpResolveUriFn>(dlsym(library, "_httpResolveURI"));
  if (resolve == nullptr) {
    Debugf(log, "_httpResolveURI addr get fail.\n");
    return 0;
  }
  std::vector<char> resolved(kUriPartSize, '\0');
  if (uri == nullptr || resolve(uri, resolved.data(), resolved.size(), kResolveOptions, nullptr,
                                nullptr) == nullptr) {
    Debugf(log, "_httpResolveURI fail.\n");
    return 0;
  }
  resolved.back() = '\0';
  Debugf(log, "<dnssd> resolvedURI : %s\n", resolved.data());

  std::vector<char> scheme(kUriPartSize, '\0'), user(kUriPartSize, '\0'),
      hostPart(kUriPartSize, '\0'), resource(kUriPartSize, '\0');
  int cupsret = httpSeparateURI(HTTP_URI_CODING_ALL, resolved.data(), scheme.data(),
                                kUriPartSize, user.data(), kUriPartSize, hostPart.data(),
                                kUriPartSize, port, resource.data(), kUriPartSize);
  if (cupsret < 0) {
    Debugf(log, "<dnssd> httpSeparateURI fail. cupsret=%d\n", cupsret);
    return 0;
  }
  if (showPort) {
    Debugf(log, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s, port=%d\n", cupsret,
            hostPart.data(), *port);
  } else {
    Debugf(log, "<dnssd> httpSeparateURI success.cupsret=%d, host=%s\n", cupsret,
            hostPart.data());
  }
  // Append within the caller's buffer.
  size_t used = strnlen(host, kHostBufferSize - 1);
  snprintf(host + used, kHostBufferSize - used, "%s", hostPart.data());
  return 1;
}

// Opens the device when its serial number occurs in the URI; nullptr (and
// the device closed again) otherwise.
libusb_device_handle* OpenIfSerialInUri(LogOutput& log, libusb_device* device,
                                        const char* uri) {
  struct libusb_device_descriptor desc;
  int rc = libusb_get_device_descriptor(device, &desc);
  if (rc < 0) {
    Debugf(log, "gstopcl::SenddummyCmdToUsb: libusb_get_device_descriptor=%d\n", rc);
    return nullptr;
  }
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) != 0 || handle == nullptr) return nullptr;
  if (desc.iSerialNumber != 0) {
    unsigned char serial[128] = {0};
    rc = libusb_get_string_descriptor_ascii(handle, desc.iSerialNumber, serial, sizeof(serial) - 1);
    // An empty serial number would be "contained" in every URI: it names
    // no device.
    if (rc > 0 && serial[0] != '\0' && strstr(uri, reinterpret_cast<const char*>(serial)) != nullptr) {
      Debugf(log, "libusb find device handle\n");
      return handle;
    }
  }
  libusb_close(handle);
  return nullptr;
}

}  // namespace

int getPrinterHostNameFromUri(LogOutput& log, const char* uri, char* host, int* port) {
  // Systems without the CUPS development files have only the versioned name.
  LibraryHandle library = OpenLibrary("libcups.so");
  if (!library) library = OpenLibrary("libcups.so.2");
  if (!library) {
    Debugf(log, "can't open libcups file!\n");
    return 0;
  }
  return ResolveAndSplit(log, library.get(), uri, host, port, false);
}

int getPrinterHostNameFromDNSSDUri(LogOutput& log, const char* uri, char* host, int* port) {
  LibraryHandle library = OpenLibrary("libcups.so");
  if (!library) {
    Debugf(log, "libcups.so open fail.\n");
    library = OpenLibrary("libcups.so.2");
    if (!library) {
      Debugf(log, "libcups.so.2 open fail.\n");
      return 0;
    }
  }
  return ResolveAndSplit(log, library.get(), uri, host, port, true);
}

int GetIpByHostname(LogOutput& log, const char* name, char* address) {
  struct hostent entry;
  struct hostent* result = nullptr;
  std::vector<char> work(8192);
  int herr = 0;
  if (name == nullptr ||
      gethostbyname_r(name, &entry, work.data(), work.size(), &result, &herr) != 0 ||
      result == nullptr || result->h_addr_list[0] == nullptr) {
    Debugf(log, " gethostbyname error for host:%s\n", name != nullptr ? name : "");
    return 1;
  }
  if (result->h_addrtype == AF_INET || result->h_addrtype == AF_INET6) {
    inet_ntop(result->h_addrtype, result->h_addr_list[0], address, kAddressTextSize);
  } else {
    Debugf(log, "unknown address type\n");
  }
  return 0;
}

UsbDeviceSession FindUsbDeviceHandle(LogOutput& log, const char* uri) {
  libusb_context* context = nullptr;
  int rc = libusb_init(&context);
  if (rc < 0) {
    Debugf(log,
           "gstopcl::SenddummyCmdToUsb: Unable to initialize USB acc via libusb,libusb error "
           "%d\n",
           rc);
    return UsbDeviceSession();
  }
  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(context, &list);
  if (count <= 0) {
    Debugf(log, "gstopcl::SenddummyCmdToUsb: get device list failed\n");
    if (list != nullptr) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return UsbDeviceSession();
  }
  libusb_device_handle* found = nullptr;
  for (ssize_t i = 0; i < count && found == nullptr && uri != nullptr; ++i)
    found = OpenIfSerialInUri(log, list[i], uri);
  libusb_free_device_list(list, 1);
  if (found == nullptr) {
    libusb_exit(context);
    return UsbDeviceSession();
  }
  return UsbDeviceSession(context, found);
}

}  // namespace lumora
