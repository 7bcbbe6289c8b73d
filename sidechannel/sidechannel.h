// The pre-filter's direct line to the printer, beside the print path:
// finding the device from its URI (USB or network), the keep-alive thread
// of the PDF road and the cancel/status query thread of the PostScript road.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

// The job was cancelled (SIGTERM, or the printer reported it cancelled).
// Goes from 0 to 1 once; set from a signal handler and from threads.
extern std::atomic<int> job_canceled;

// Keep-alive thread's end flag.
extern std::atomic<unsigned char> g_bdummyEnd;
extern pthread_t dummy_thread;

// Handed to the status query thread; must outlive it (lives for the process).
struct cancel_query_arg {
  char deviceUri[512];
  int32_t jobId;
  char jobOwner[512];
};
extern pthread_t status_thread;
extern int err_thread;

// Status query thread body (argument: cancel_query_arg*).
void* Printer_cancle_query_tread(void* block);

// Keep-alive thread: started before the converted job is copied out, ended
// and joined by Waitpthread (safe to call when none runs).
void Creatpthread(char** argv);
void Waitpthread();
