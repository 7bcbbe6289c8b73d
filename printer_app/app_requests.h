// SPDX-License-Identifier: GPL-2.0-or-later
// Requests the application answers itself before PAPPL 1.3.1 handles them,
// where PAPPL would crash, hang or lock up on them. PAPPL's operation
// callback sees only the operations PAPPL does not know; its credentials
// callback sees every job and printer operation that comes over TCP, so the
// checks run there, once the request is allowed (and, for the control
// socket, where PAPPL hands the request on):
// - a client's PWG or Apple raster for a printer that has a job to print,
//   or holds new jobs: answered server-error-busy (or
//   server-error-not-accepting-jobs) before a job is made. PAPPL would make
//   the job and abort it, locking the printer and then the system, the
//   reverse of the order its state saving and Get-Printer-Attributes take:
//   under a client that retries on busy, as CUPS does, the server locked up.
// - a media-col (job, media-col-default, media-col-ready) naming a size
//   that has no PWG size: PAPPL dereferences the size it does not find.
// - Validate-Job with compression: PAPPL waits for a compressed document
//   that never comes; the compression is checked and the request answered.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace lumora::app {

// HTTP_STATUS_CONTINUE when PAPPL may handle the request; otherwise the
// request has been answered (and the connection closed) and the status is
// what the credentials callback returns.
http_status_t CheckRequest(pappl_client_t* client);

// The same checks for a client of the control socket (root and the admin
// group), whose requests PAPPL never shows the credentials callback: true
// when the request has been answered (PAPPL then sends the answer).
// Called where PAPPL 1.3.1 hands a request to its printer, job or system
// (pappl_hooks.cpp).
bool AnswerLocalRequest(pappl_client_t* client);

// Why a media-col value names no size PAPPL can use ("" when it names one
// or none).
std::string MediaColProblem(ipp_t* col);

}  // namespace lumora::app
