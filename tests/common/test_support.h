// SPDX-License-Identifier: GPL-2.0-or-later
// Shared helpers for the driver's tests: temporary directories, running a
// filter as the scheduler would, writing real CUPS raster streams and PPDs.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lumora::test {

// A temporary directory removed with everything in it when it goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory.
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

// Removes a directory and everything in it.
void RemoveTree(const std::string& path);

// Names of the entries of a directory (empty when it does not exist).
std::vector<std::string> ListDir(const std::string& path);
// Threads of this process (/proc/self/task).
int LiveThreads();
// LiveThreads once it is down to `expected`, or after half a second: under
// an emulator the host thread of a joined thread may linger a moment.
int LiveThreadsSettled(int expected);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

// A digest of bytes to record in a test: their FNV-1a hash (64 bits, hex),
// a dash and their length.
std::string Digest(const std::string& bytes);

struct RunResult {
  int status = -1;        // exit status, or 128 + signal
  std::string out;        // standard output
  std::string err;        // standard error
};

struct RunOptions {
  std::vector<std::string> argv;              // argv[0] included
  std::map<std::string, std::string> env;     // added to (or replacing) the environment
  std::vector<std::string> unsetEnv;
  std::string stdinData;
  std::string stdinFile;                      // feed this file instead of stdinData
  // Called with the child's pid while it runs (for example to send SIGTERM
  // once some output arrived); gets the output read so far.
  std::function<void(pid_t, const std::string& outSoFar)> onOutput;
};

// Runs a program to the end, capturing its output.
RunResult RunProgram(const RunOptions& opts);

// Path of a built program (passed to the tests by CMake as LUMORA_BIN_DIR).
std::string BinPath(const std::string& name);

// One page of 8-bit gray raster (255 = white).
struct RasterPage {
  unsigned width = 0;           // cupsWidth
  unsigned height = 0;          // cupsHeight
  unsigned pageSize[2] = {595, 842};
  unsigned resolution[2] = {600, 600};
  unsigned numCopies = 1;
  unsigned duplex = 0;
  unsigned tumble = 0;
  unsigned mediaType = 0;
  // pixel(x, y) -> gray value; white when empty.
  std::function<uint8_t(unsigned x, unsigned y)> pixel;
};

// A page whose raster has exactly the size of the printer's image.
RasterPage PageOfSize(unsigned pointWidth, unsigned pointHeight, unsigned width,
                      unsigned height);

// Writes a CUPS raster stream with the real CUPS raster writer (compressed
// by default; CUPS_RASTER_WRITE_COMPRESSED/PWG/... give the other forms).
void WriteRaster(const std::string& path, const std::vector<RasterPage>& pages,
                 cups_mode_t mode = CUPS_RASTER_WRITE);

// A ghostscript-rendered raster of a PostScript program: 8-bit gray,
// given resolution and page size in points.
bool RenderPostScript(const std::string& psPath, const std::string& rasterPath, int dpi,
                      unsigned pointWidth, unsigned pointHeight);

// A minimal PPD for a raster queue. extra: more PPD lines (attributes,
// options) appended as they are.
std::string RasterPpd(const std::string& modelName, const std::string& extra = "");

// A job stream with the fields that depend on the clock and the host
// masked: the PLATFORM_C date record and the PLATFORM_Z JOBTIME and
// JOBOWNER lines.
void MaskVolatile(std::string& stream);

}  // namespace lumora::test
