#include "job_state.h"

#include <cstring>

int g_page = 0;
volatile sig_atomic_t g_ismiddlepage = 1;
char gPPDFile[1024] = {};
char prntLastError[1024] = {};
uint32_t gImageCoverage = 0;

void PrependLastError(const char* msg) {
  if (msg == nullptr) return;
  char joined[sizeof(prntLastError)];
  size_t n = strnlen(msg, sizeof(joined) - 1);
  memcpy(joined, msg, n);
  size_t rest = strnlen(prntLastError, sizeof(prntLastError) - 1);
  if (rest > sizeof(joined) - 1 - n) rest = sizeof(joined) - 1 - n;
  memcpy(joined + n, prntLastError, rest);
  joined[n + rest] = '\0';
  memcpy(prntLastError, joined, n + rest + 1);
}

void SetLastError(const char* msg) {
  if (msg == nullptr) msg = "";
  size_t n = strnlen(msg, sizeof(prntLastError) - 1);
  memcpy(prntLastError, msg, n);
  prntLastError[n] = '\0';
}

void ResetJobState() {
  g_page = 0;
  g_ismiddlepage = 1;
  gPPDFile[0] = '\0';
  prntLastError[0] = '\0';
  gImageCoverage = 0;
}
