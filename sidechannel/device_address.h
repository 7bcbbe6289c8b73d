// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the printer from the queue's device URI: a host and port for a
// network printer (DNS-SD URIs resolved through the CUPS library), or an
// open libusb handle for a USB printer whose serial number is in the URI.
#pragma once

#include <libusb.h>

#include <cstddef>

// Capacity of the callers' host buffers.
constexpr std::size_t kHostBufferSize = 1024;
// Capacity of the address text buffer of GetIpByHostname.
constexpr std::size_t kAddressTextSize = 256;

// Resolves the URI with the CUPS library's `_httpResolveURI` and splits it;
// appends the host to `host` (a zeroed buffer of kHostBufferSize bytes) and
// stores the URI's port (the scheme's default when it names none).
// Returns 1 when the host was found, else 0.
int getPrinterHostNameFromUri(const char* uri, char* host, int* port);
// The same, for DNS-SD URIs, with its own messages.
int getPrinterHostNameFromDNSSDUri(const char* uri, char* host, int* port);

// Looks a host name up; on success writes the first address as text into
// `address` (kAddressTextSize bytes) and returns 0; returns 1 when the name
// does not resolve.
int GetIpByHostname(const char* name, char* address);

// Opens the first USB device whose (non-empty) serial number occurs in the
// URI. The caller closes the handle and then calls libusb_exit(nullptr).
// Returns nullptr when none matches (the libusb context is released then).
libusb_device_handle* FindUsbDeviceHandle(const char* uri);

// Closes a handle from FindUsbDeviceHandle and releases the libusb context
// when it goes out of scope.
class UsbDeviceSession {
 public:
  explicit UsbDeviceSession(libusb_device_handle* handle) : handle_(handle) {}
  ~UsbDeviceSession() {
    if (handle_ != nullptr) {
      libusb_close(handle_);
      libusb_exit(nullptr);
    }
  }
  UsbDeviceSession(const UsbDeviceSession&) = delete;
  UsbDeviceSession& operator=(const UsbDeviceSession&) = delete;
  libusb_device_handle* get() const { return handle_; }

 private:
  libusb_device_handle* handle_;
};
