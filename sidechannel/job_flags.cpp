// Flags shared by the pre-filter's copy loops, its SIGTERM handler and the
// device threads.
#include "sidechannel.h"

std::atomic<int> job_canceled{0};
