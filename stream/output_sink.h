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

// Set once a write to a spool file came up short (disk full); the page loop
// turns it into an error instead of printing a job with pages missing.
extern int gSpoolWriteFailed;
// Set once a write to the device failed (printer connection gone).
extern int gDeviceWriteFailed;

// The device stream; standard output unless a test injects another.
FILE* SinkOutput();
void SinkSetOutput(FILE* out);

// Returns 1 when every destination written took all the bytes, 0 otherwise
// (null data, no destination, or any failed write: a failed device write is
// not hidden by a spool write that went through). Zero bytes to an open
// destination succeed.
int SendDataToFile(const void* data, size_t len, int toSideFiles);
// The two-byte filler 00 00 between records (page stream, toSideFiles = 1).
int Insert00();

// Back to the start values (no spool file, device on, empty size table).
void ResetOutputSink();
