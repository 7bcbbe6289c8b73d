// SPDX-License-Identifier: GPL-2.0-or-later
// One document of a PostScript printer printed as a CUPS queue of its PPD
// prints it: the conversion filters, then one lumora::PsJob with the
// printer's device as its output and side channel.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "ps_drivers.h"

namespace lumora::app {

// Converts the job's document of that MIME type (convert; else it is
// PostScript for the job as it is) and runs the PostScript job on it.
// False when the job did not print: refused, a filter failed, the printer
// went away.
bool PrintPsDocument(pappl_job_t* job, pappl_device_t* device, const char* document,
                     const std::string& format, bool convert);

// The printer's defaults in its PPD, as lpadmin -o writes a queue's: the
// *Default lines of PageSize (with PageRegion, ImageableArea and
// PaperDimension), Duplex and FeedEdge. Empty values keep the PPD's own.
struct PsDefaults {
  std::string pageSize;  // PPD PageSize choice
  std::string duplex;    // "None", "DuplexNoTumble", "DuplexTumble"
  std::string feedEdge;  // "ShortEdge", "LongEdge"
};
std::string PpdWithDefaults(const std::string& ppd, const PsDefaults& defaults);

// What the job's own attributes say, in the words of a CUPS job's options.
struct PsJobRequest {
  std::string media;            // PWG name, when the job names a paper
  std::string sides;            // when the job names them
  std::string handling;         // multiple-document-handling
  std::string orientation;      // orientation-requested (number)
  std::string pageRanges;       // "1-3"
  std::string feedEdge;         // from a5-long-edge-feed: "LongEdge"/"ShortEdge"
  std::string uuid, host, documentName;
  long created = 0, processed = 0;
};

// The options text the scheduler gives a queue's filters for such a job:
// the job's attributes and the queue's finishings, number-up and colour
// defaults (sorted by name), the scheduler's job facts, then the PPD
// options that stand for the job's paper and sides.
std::string PsJobOptionString(const PsDriver& driver, const PsJobRequest& request);

}  // namespace lumora::app
