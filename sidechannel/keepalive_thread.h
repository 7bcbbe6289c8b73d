// SPDX-License-Identifier: GPL-2.0-or-later
// Keep-alive thread of the PDF road: while the converted job is copied out
// it sends the printer's SNMP agent a SetRequest every 5 s (network) or holds
// the USB printer open (USB).
#pragma once

#include <pthread.h>

#include <atomic>

// 0 while the thread is to keep going, 1 once it is to finish (never reset:
// one keep-alive thread per process).
extern std::atomic<unsigned char> g_bdummyEnd;
// The running thread; 0 when none was started.
extern pthread_t dummy_thread;

// Starts the thread for DEVICE_URI (or argv[0] when it looks like a URI).
void Creatpthread(char** argv);
// Tells the thread to end and joins it; safe when none runs. The thread's
// pauses and its wait for the agent's reply end at once (as they do when the
// job is cancelled), so the job does not wait for the next exchange.
void Waitpthread();
// Thread body; `uri` is the device URI (outlives the thread). It keeps the
// default (deferred) cancellation type: Waitpthread cancels it only when the
// join fails, and it then ends at its next sleep or socket wait.
void* dummy_send_tread(void* uri);
// One keep-alive exchange with the host's agent on UDP port 161.
void SenddummyCmdToNet(const char* host);
