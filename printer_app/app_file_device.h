// SPDX-License-Identifier: GPL-2.0-or-later
// File devices ("file:///DIR/NAME.prn", "file:///DIR/" for one file per
// job, "file:///dev/usb/lp0"), in place of PAPPL's own: PAPPL's open any
// path the URI names, as the service (root), following symbolic links, and
// append to it. Here a printer may have a file device only under the
// directory the administrator names (-o file-device-directory=DIR), or a
// printer's character device (/dev/lpN, /dev/usb/lpN); and each job opens
// its file without following any symbolic link, in a directory that no one
// but the service (or root) may write, a plain file of the service's own
// with no other name.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora::app {

// Registers the device schemes (this file scheme, PAPPL's network and USB
// schemes). Call before any other device call of the process.
void RegisterDeviceSchemes();

// Why a printer may not use the device URI ("" when it may); fileDirectory:
// the administrator's directory for file devices ("" when none is allowed).
std::string DeviceRefusal(const char* uri, const std::string& fileDirectory);

// Why the directory cannot take file devices ("" when it can): it must be
// an absolute path reached without symbolic links, owned by the service or
// root and writable by no one else.
std::string CheckFileDirectory(const std::string& directory);

// Opens the output of a job for a file device's path (a directory: a file
// named after the job, with the extension). Returns the descriptor, or -1
// and why.
int OpenFileDevice(const std::string& path, const std::string& jobName, const std::string& ext,
                   std::string* why);

}  // namespace lumora::app
