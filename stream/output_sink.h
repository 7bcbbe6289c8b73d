// The one output routine of the raster filter. Every command byte goes
// through SendDataToFile, which writes to the device (standard output, or
// the stream a test injects) and, while pages are held back for collated
// copies or manual duplex, appends them to the spool files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// 1 = command bytes go to the device.
extern int gSendDataToDevice;
// Spool files (descriptors), 0 = not open.
extern int gCollateFile;
extern int gManualDuplexOddFile;
extern int gManualDuplexEvenFile;
// Bytes each even page put into the even spool file: entry k is page 2k + 2.
// Grows with the job, so a manual-duplex job of any length replays every page.
extern std::vector<uint64_t> gCacheSize;
// Bytes each page put into the collate file (entry g_page - 1) and into the
// odd-page file (entry (g_page - 1) / 2): the replays send whole pages, so a
// cancel never cuts one.
extern std::vector<uint64_t> gCollatePageSize;
extern std::vector<uint64_t> gOddPageSize;

// Set once a write to a spool file came up short (disk full). The sink then
// closes every spool file and holds nothing back any more; the page loop
// turns it into an error and sends the job end to the device only.
extern int gSpoolWriteFailed;
// Set once a write to the device failed (printer connection gone).
extern int gDeviceWriteFailed;

// The device stream; standard output unless a test injects another.
FILE* SinkOutput();
void SinkSetOutput(FILE* out);

// Returns 1 when every destination written took all the bytes, 0 otherwise
// (null data, no destination, or a failed device write: a failed device
// write is not hidden by a spool write that went through). A spool write
// that fails is reported through gSpoolWriteFailed, not as a failed call, so
// the page in progress still reaches the device whole. Zero bytes to an open
// destination succeed.
int SendDataToFile(const void* data, size_t len, int toSideFiles);
// Writes bytes to the device outside the routing (failure texts): the whole
// text, across interrupted and short writes.
bool WriteToDevice(const void* data, size_t len);

// The two-byte filler 00 00 between records (page stream, toSideFiles = 1).
int Insert00();

// Back to the start values (no spool file, device on, empty size table).
void ResetOutputSink();
