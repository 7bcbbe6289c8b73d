// SPDX-License-Identifier: GPL-2.0-or-later
// The PostScript road: the job file copied to the output, and for the maple
// family rewritten line by line (job owner and id in PJL, page size, copy
// count, collated copies) while the status query thread watches the printer.
#pragma once

#include <cups/cups.h>

#include <string>

namespace lumora {

struct PsJobState;

// The PostScript trailer that closes a job cut by cancellation (69 bytes).
extern const char kCancelTrailer[];
constexpr int kCancelTrailerLen = 69;
// End of job: end of transmission and PJL's universal exit (10 bytes).
extern const char kEndOfJob[];
constexpr int kEndOfJobLen = 10;

// Copies (and for the maple family rewrites) the job file to the output.
// False when the job file cannot be opened.
bool WritePSdataToStdout(PsJobState& job, const std::string& path);

// Forces the page-size statements of one line to width x height, repairs a
// setpagedevice dictionary with a malformed DeferredMediaSelection key and,
// while collating (collate: the job's iscollate), takes out the copy-count
// feature (inNumCopies is carried across the lines of one pass). True when
// it changed or emptied the line.
bool FixPrnPageSize(std::string& line, int w, int h, bool collate, bool& inNumCopies);

// The cancel cut, used only once the job is cancelled: when the text (up to
// its first NUL) holds a page comment that is not the first page after the
// setup, writes the text before it and the cancel trailer to the output,
// replaces data by the trailer, sets outlen to 69 and returns true.
bool find_pageend(PsJobState& job, std::string& data, int& outlen);

// The device URI (and make and model) of the queue among the scheduler's
// destinations; both outputs (256 bytes each) are emptied when not found.
int getPrinter_optiopns(const char* printerName, char* deviceUri, char* makeModel);
// The same over a given destination list (the walk of getPrinter_optiopns).
void FindQueueOptions(int numDests, cups_dest_t* dests, const char* printerName, char* deviceUri,
                      char* makeModel);

// Lower-case copy of src into dst (dstSize bytes, always terminated).
void strToLower(const char* src, char* dst, size_t dstSize);

}  // namespace lumora
