// SPDX-License-Identifier: GPL-2.0-or-later
// The PDF road of the Larch platform: even pages turned for long-edge
// duplex with qpdf, then the PDF converted to PostScript by the system's
// pdftops filter. Both run with argument vectors, never through a shell.
#pragma once

#include <string>

#include "byte_output.h"

namespace lumora {

struct PsJobState;

// The system's qpdf is version 8 or later.
bool getqpdfversion(PsJobState& job);

// For long-edge duplex on a Larch printer, replaces the job file by a copy
// whose even pages are turned by 180 degrees. On any failure the job goes
// on unrotated.
void CreatRotateDuplex(PsJobState& job, std::string& path);

// Converts the PDF job file to PostScript with copies 1 and the layout and
// ordering options taken out; on success the job file becomes the result.
// 1 on success, -1 when pdftops cannot run, fails or writes nothing.
int pdf2ps(PsJobState& job, std::string& path);

// The file ends with the "%%EOF" comment of a complete PostScript job.
bool EndsWithEofComment(const std::string& path);

// Takes the first occurrence of str out of text, through the next sep
// (the blank); nothing when no sep follows it.
void removestr(LogOutput& log, char* text, const char* str, char sep);

}  // namespace lumora
