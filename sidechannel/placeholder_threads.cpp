// Placeholder bodies until the device threads land: the status thread ends
// at once and no keep-alive thread is started.
#include "sidechannel.h"

std::atomic<int> job_canceled{0};
std::atomic<unsigned char> g_bdummyEnd{0};
pthread_t dummy_thread = 0;
pthread_t status_thread = 0;
int err_thread = 0;

void* Printer_cancle_query_tread(void*) { return nullptr; }
void Creatpthread(char**) {}
void Waitpthread() { g_bdummyEnd = 1; }
