// SPDX-License-Identifier: GPL-2.0-or-later
// Entry points shared by the libFuzzer targets and the corpus replay: each
// takes one input of any bytes, drives the real parsing code of the driver
// with it and returns 0. A fault shows as a crash or a sanitizer report; a
// broken invariant (a temporary file left behind, a cancel cut that does not
// end with the trailer) aborts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lumora::test::fuzz {

using FuzzEntry = int (*)(const uint8_t* data, size_t size);

// The raster page loop over a raster stream read by the CUPS raster reader.
// data[0] picks the PPD (family), data[1] the job options, the rest is the
// raster stream. Inputs whose pages would be larger than a few million
// pixels, or that ask for many pages or copies, are skipped.
int FuzzRasterPageLoop(const uint8_t* data, size_t size);
// The same run with the job stream written to out (seed making).
int RunRasterPageLoop(const uint8_t* data, size_t size, FILE* out);
// Job settings of the raster filter: first line the option string, the rest
// PPD lines added to a raster PPD; GatherJobSettings, checkOptionKey,
// GetFunctionValue, the paper lookup and the custom-size geometry.
int FuzzJobSettings(const uint8_t* data, size_t size);
// The PostScript road of pstoLumora on a job file: line rewriting, header
// insertion, page-size fixing, collated copies and the cancel cut.
// data[0] picks the mode, data[1..2] the page size.
int FuzzPsRewrite(const uint8_t* data, size_t size);
// urldecode and the queue look-up that compares decoded printer URIs.
int FuzzUrlDecode(const uint8_t* data, size_t size);
// The pre-filter's option and size checks: first line the option string,
// the rest the job file (MediaBox and pdfSetupPaper number scanning, A5).
int FuzzSizeChecks(const uint8_t* data, size_t size);
// A status reply of the printer's SNMP agent: data[0] is the owner's length,
// then the owner, then the reply.
int FuzzSnmpReply(const uint8_t* data, size_t size);
// The job-stream reader of lumora-inspect.
int FuzzJobStreamReader(const uint8_t* data, size_t size);
// The raster reader against the CUPS library's reader, in lock step.
// data[0] bit 0 picks odd read lengths, bits 1-3 the read-ahead size;
// data[1] seeds the lengths; the rest is the raster stream.
int FuzzRasterReader(const uint8_t* data, size_t size);
// The driver's JBIG encoder against JBIG-KIT's: data[0..1] the width,
// data[2] the stripe height (2 lines up), data[3] the adaptive window,
// data[4] the options, data[5] the order, the rest the image.
int FuzzJbigEncoder(const uint8_t* data, size_t size);

struct FuzzTarget {
  const char* name;
  FuzzEntry entry;
};
// Every target, by the name of its corpus folder.
extern const FuzzTarget kFuzzTargets[];
extern const size_t kFuzzTargetCount;
FuzzEntry FindFuzzTarget(const char* name);

// What the driver makes of one input of the targets that make something,
// with the clock and the host masked: the job stream of raster_page_loop,
// the JSON report of job_stream_reader. False for the other targets. The
// replay compares its digests with recorded ones, so that every build and
// architecture is shown to make the same bytes.
bool FuzzOutput(const char* target, const uint8_t* data, size_t size, std::string& out);

}  // namespace lumora::test::fuzz
