// SPDX-License-Identifier: GPL-2.0-or-later
// Page-size facts of a maple-family job: the PPD size of its PageSize, the
// range check of custom sizes, and A5 fed long edge first.
#pragma once

// Printable range of custom sizes, in points, bounds included.
constexpr float kCustomMinWidth = 211.0f;
constexpr float kCustomMaxWidth = 613.0f;
constexpr float kCustomMinHeight = 418.0f;
constexpr float kCustomMaxHeight = 1010.0f;

// Size of the job's "PageSize" (argument 5) in the PPD, truncated to whole
// points, into *w and *h. 1 when the job names a PageSize, else 0.
int checkmediasize(char** argv, int unused, int* w, int* h);

// 1 when the job may be printed, 0 when it asks for a custom size whose
// first MediaBox or pdfSetupPaper in the job file is out of range.
int isSupportCustomPageSize(const char* options, const char* path);

// The job is A5 paper fed long edge first.
bool isA5PageSize(const char* options, const char* path);
