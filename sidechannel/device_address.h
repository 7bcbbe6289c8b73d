// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the printer from the queue's device URI: a host and port for a
// network printer (DNS-SD URIs resolved through the CUPS library), or an
// open libusb handle for a USB printer whose serial number is in the URI.
#pragma once

#include <libusb.h>

#include <cstddef>

#include "byte_output.h"

namespace lumora {

// Capacity of the callers' host buffers.
constexpr std::size_t kHostBufferSize = 1024;
// Capacity of the address text buffer of GetIpByHostname.
constexpr std::size_t kAddressTextSize = 256;

// Resolves the URI with the CUPS library's `_httpResolveURI` and splits it;
// appends the host to `host` (a zeroed buffer of kHostBufferSize bytes) and
// stores the URI's port (the scheme's default when it names none).
// Returns 1 when the host was found, else 0.
int getPrinterHostNameFromUri(LogOutput& log, const char* uri, char* host, int* port);
// The same, for DNS-SD URIs, with its own messages.
int getPrinterHostNameFromDNSSDUri(LogOutput& log, const char* uri, char* host, int* port);

// Looks a host name up; on success writes the first address as text into
// `address` (kAddressTextSize bytes) and returns 0; returns 1 when the name
// does not resolve.
int GetIpByHostname(LogOutput& log, const char* name, char* address);

// An open USB printer and the libusb context it was found in (one context
// per search, so that jobs never share one); both are released when it goes.
class UsbDeviceSession {
 public:
  UsbDeviceSession() = default;
  UsbDeviceSession(libusb_context* context, libusb_device_handle* handle)
      : context_(context), handle_(handle) {}
  UsbDeviceSession(UsbDeviceSession&& other) noexcept
      : context_(other.context_), handle_(other.handle_) {
    other.context_ = nullptr;
    other.handle_ = nullptr;
  }
  UsbDeviceSession& operator=(UsbDeviceSession&&) = delete;
  UsbDeviceSession(const UsbDeviceSession&) = delete;
  UsbDeviceSession& operator=(const UsbDeviceSession&) = delete;
  ~UsbDeviceSession() {
    if (handle_ != nullptr) libusb_close(handle_);
    if (context_ != nullptr) libusb_exit(context_);
  }
  // The open device; nullptr when none was found.
  libusb_device_handle* get() const { return handle_; }

 private:
  libusb_context* context_ = nullptr;
  libusb_device_handle* handle_ = nullptr;
};

// Opens the first USB device whose (non-empty) serial number occurs in the
// URI; the session holds no device when none matches.
UsbDeviceSession FindUsbDeviceHandle(LogOutput& log, const char* uri);

}  // namespace lumora
