// SPDX-License-Identifier: GPL-2.0-or-later
#include "app_file_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

// PAPPL 1.3.1 registers its built-in schemes only while no scheme is
// registered, and keeps the first scheme of a name: after this file scheme
// its network and USB schemes are registered with these (exported by
// libpappl, not declared in its headers).
extern "C" void _papplDeviceAddNetworkSchemes(void);
extern "C" void _papplDeviceAddUSBScheme(void);

namespace lumora::app {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// "/a/b/c" as {"a", "b", "c"}; empty when the path is not absolute or has an
// empty, "." or ".." part.
std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  if (path.size() < 2 || path[0] != '/') return parts;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part.empty() && end == path.size() && !parts.empty()) break;  // a trailing "/"
    if (part.empty() || part == "." || part == "..") return {};
    parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

bool IsPrinterDeviceNode(const std::string& path) {
  for (const char* prefix : {"/dev/lp", "/dev/usb/lp"}) {
    size_t n = strlen(prefix);
    if (path.compare(0, n, prefix) == 0 && path.size() > n &&
        path.find_first_not_of("0123456789", n) == std::string::npos) {
      return true;
    }
  }
  return false;
}

// A directory no one but the service (or root) may change.
std::string UnsafeDirectory(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) != 0) return path + ": " + strerror(errno);
  if (st.st_uid != geteuid() && st.st_uid != 0) return path + " belongs to another user";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return path + " is writable by others";
  return "";
}

// Opens the directories of the parts [0, count) from "/", following no
// symbolic link. Returns the last one's descriptor, or -1 and why.
int OpenDirectories(const std::vector<std::string>& parts, size_t count, std::string* why) {
  Descriptor dir(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string path;
  for (size_t i = 0; i < count && dir.Get() >= 0; i++) {
    path += "/" + parts[i];
    dir.Reset(openat(dir.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.Get() < 0) {
      *why = path + (errno == ELOOP || errno == ENOTDIR ? " is a symbolic link or not a directory"
                                                        : std::string(": ") + strerror(errno));
      return -1;
    }
  }
  return dir.Release();
}

// Opens a plain file of the service's own in the directory for writing.
int OpenPlainFile(int dir, const std::string& name, bool truncate, std::string* why) {
  // O_NONBLOCK: a FIFO without reader fails instead of blocking the job.
  Descriptor fd(openat(dir, name.c_str(),
                       O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC |
                           (truncate ? 0 : O_APPEND),
                       0666));
  if (fd.Get() < 0) {
    *why = name + (errno == ELOOP ? " is a symbolic link" : std::string(": ") + strerror(errno));
    return -1;
  }
  struct stat st;
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != geteuid()) {
    *why = name + " is not a plain file of the service's own";
    return -1;
  }
  if ((truncate && ftruncate(fd.Get(), 0) != 0) ||
      fcntl(fd.Get(), F_SETFL, fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK) != 0) {
    *why = name + ": " + strerror(errno);
    return -1;
  }
  return fd.Release();
}

int OpenDeviceNode(const std::string& path, std::string* why) {
  Descriptor fd(open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0 || !S_ISCHR(st.st_mode)) {
    *why = path + (fd.Get() < 0 ? std::string(": ") + strerror(errno) : " is not a device");
    return -1;
  }
  return fd.Release();
}

// The path and "ext=" option of a file: URI.
std::string UriPath(const char* uri, std::string* ext) {
  char scheme[32], userpass[32], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), userpass,
                      sizeof(userpass), host, sizeof(host), &port, resource,
                      sizeof(resource)) < HTTP_URI_STATUS_OK ||
      strcmp(scheme, "file") != 0) {
    return "";
  }
  std::string path = resource;
  size_t query = path.find('?');
  if (query != std::string::npos) {
    std::string options = path.substr(query + 1);
    if (ext && options.rfind("ext=", 0) == 0 && options.find('/') == std::string::npos) {
      *ext = options.substr(4);
    }
    path.erase(query);
  }
  return path;
}

bool FileOpen(pappl_device_t* device, const char* uri, const char* name) {
  std::string ext = "prn";
  std::string why;
  int fd = OpenFileDevice(UriPath(uri, &ext), name ? name : "job", ext, &why);
  if (fd < 0) {
    papplDeviceError(device, "Unable to open the file device: %s", why.c_str());
    return false;
  }
  papplDeviceSetData(device, new int(fd));
  return true;
}

void FileClose(pappl_device_t* device) {
  int* fd = static_cast<int*>(papplDeviceGetData(device));
  if (!fd) return;
  close(*fd);
  delete fd;
  papplDeviceSetData(device, nullptr);
}

ssize_t FileWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
  int* fd = static_cast<int*>(papplDeviceGetData(device));
  if (!fd) return -1;
  const char* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < bytes) {
    ssize_t n = write(*fd, p + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

void RegisterDeviceSchemes() {
  papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, FileOpen, FileClose, nullptr,
                       FileWrite, nullptr, nullptr);
  _papplDeviceAddNetworkSchemes();
  _papplDeviceAddUSBScheme();
}

std::string DeviceRefusal(const char* uri, const std::string& fileDirectory) {
  if (!uri || strncmp(uri, "file:", 5) != 0) return "";
  std::string path = UriPath(uri, nullptr);
  if (IsPrinterDeviceNode(path)) return "";
  if (fileDirectory.empty()) {
    return "file devices are off (-o file-device-directory=DIR allows them under DIR)";
  }
  std::vector<std::string> parts = Parts(path);
  std::vector<std::string> allowed = Parts(fileDirectory);
  bool under = !parts.empty() && parts.size() > allowed.size() &&
               std::equal(allowed.begin(), allowed.end(), parts.begin());
  if (!under && !(parts == allowed && !parts.empty())) {
    return "file devices are allowed only under " + fileDirectory;
  }
  return "";
}

std::string CheckFileDirectory(const std::string& directory) {
  std::vector<std::string> parts = Parts(directory);
  if (parts.empty()) return directory + " is not an absolute path without \".\" or \"..\"";
  std::string why;
  Descriptor dir(OpenDirectories(parts, parts.size(), &why));
  if (dir.Get() < 0) return why;
  return UnsafeDirectory(dir.Get(), directory);
}

int OpenFileDevice(const std::string& path, const std::string& jobName, const std::string& ext,
                   std::string* why) {
  if (IsPrinterDeviceNode(path)) return OpenDeviceNode(path, why);
  std::vector<std::string> parts = Parts(path);
  if (parts.empty()) {
    *why = "\"" + path + "\" is not an absolute path without \".\" or \"..\"";
    return -1;
  }
  std::string parentPath = path.substr(0, path.rfind('/', path.size() - 2));
  Descriptor parent(OpenDirectories(parts, parts.size() - 1, why));
  if (parent.Get() < 0) return -1;
  if (!(*why = UnsafeDirectory(parent.Get(), parentPath.empty() ? "/" : parentPath)).empty()) {
    return -1;
  }
  Descriptor dir(openat(parent.Get(), parts.back().c_str(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.Get() < 0) return OpenPlainFile(parent.Get(), parts.back(), false, why);
  // A directory: one file per job, named after it.
  if (!(*why = UnsafeDirectory(dir.Get(), path)).empty()) return -1;
  std::string name = jobName;
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < ' ' || c == 0x7f || (c & 0x80) || c == '/') c = '_';
  }
  return OpenPlainFile(dir.Get(), name + "." + ext, true, why);
}

}  // namespace lumora::app
