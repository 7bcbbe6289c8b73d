// SPDX-License-Identifier: GPL-2.0-or-later
// Keep-alive thread of the PDF road: while the converted job is copied out
// it sends the printer's SNMP agent a SetRequest every 5 s (network) or holds
// the USB printer open (USB). The thread belongs to the job that starts it:
// Waitpthread (or the object's end) stops it and joins it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <string>

#include "device_line.h"
#include "side_job.h"
#include "wake_event.h"

namespace lumora {

class KeepAliveThread {
 public:
  // line: the application's way to the printer; empty: the device URI's.
  explicit KeepAliveThread(SideJob& job, DeviceLineOpener line = {});
  // Waitpthread, when a thread was started.
  ~KeepAliveThread();
  KeepAliveThread(const KeepAliveThread&) = delete;
  KeepAliveThread& operator=(const KeepAliveThread&) = delete;

  SideJob& job;
  const DeviceLineOpener line;
  std::string uri;                            // the device the thread talks to
  std::atomic<unsigned char> g_bdummyEnd{0};  // 1 once the thread is to finish
  pthread_t dummy_thread{};                   // valid while started
  bool started = false;
  const WakeEvent end;                        // raised with g_bdummyEnd: waits end at once
};

// Starts the thread for deviceUri (the DEVICE_URI of a filter), or for argv0
// when no URI is given and argv0 looks like one; otherwise logs "argv error".
void Creatpthread(KeepAliveThread& keepAlive, const char* deviceUri, const char* argv0);
// Tells the thread to end and joins it; safe when none runs or it already
// ended. Its pauses and its wait for the agent's reply end at once.
void Waitpthread(KeepAliveThread& keepAlive);
// Thread body; arg is the KeepAliveThread.
void* dummy_send_tread(void* arg);
// One keep-alive exchange with the host's agent on UDP port 161.
void SenddummyCmdToNet(KeepAliveThread& keepAlive, const char* host);

}  // namespace lumora
