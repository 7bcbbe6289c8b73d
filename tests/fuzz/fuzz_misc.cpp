// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz entries of the side channel's SNMP reply check and of the job-stream
// reader, and the table of every target.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_entries.h"
#include "fuzz_support.h"
#include "job_stream_reader.h"
#include "snmp_datagram.h"
#include "stream_report.h"
#include "test_support.h"

namespace lumora::test::fuzz {

int FuzzSnmpReply(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t ownerLen = data[0] % 64;
  if (ownerLen > size - 1) ownerLen = size - 1;
  std::string owner(reinterpret_cast<const char*>(data + 1), ownerLen);
  owner = owner.c_str();  // a host name: text up to its first NUL
  const uint8_t* reply = data + 1 + ownerLen;
  const size_t replyLen = size - 1 - ownerLen;
  // The reply buffer of the status query is 1024 bytes; a copy of the exact
  // length lets the sanitizer see any read past the reply.
  std::string copy(reinterpret_cast<const char*>(reply), replyLen);
  const bool own = IsOwnJobCanceledReply(reinterpret_cast<const uint8_t*>(copy.data()),
                                         copy.size(), owner.c_str());
  if (own && (replyLen < kJobRecordTail || owner.empty()))
    Fail("snmp_reply", "a short reply or an empty owner matched");
  return 0;
}

int FuzzJobStreamReader(const uint8_t* data, size_t size) {
  inspect::ReadOptions options;
  options.keepPixels = false;
  options.maxPixels = 16u << 20;
  inspect::JobStream js = inspect::ReadJobStream(data, size, options);
  if (js.size != size) Fail("job_stream_reader", "size not reported");
  return 0;
}

const FuzzTarget kFuzzTargets[] = {
    {"raster_page_loop", FuzzRasterPageLoop},
    {"job_settings", FuzzJobSettings},
    {"ps_rewrite", FuzzPsRewrite},
    {"urldecode", FuzzUrlDecode},
    {"size_checks", FuzzSizeChecks},
    {"snmp_reply", FuzzSnmpReply},
    {"job_stream_reader", FuzzJobStreamReader},
    {"raster_reader", FuzzRasterReader},
    {"jbig_encoder", FuzzJbigEncoder},
};
const size_t kFuzzTargetCount = sizeof(kFuzzTargets) / sizeof(kFuzzTargets[0]);

bool FuzzOutput(const char* target, const uint8_t* data, size_t size, std::string& out) {
  out.clear();
  if (strcmp(target, "job_stream_reader") == 0) {
    inspect::ReadOptions options;
    options.keepPixels = false;
    options.maxPixels = 16u << 20;
    out = inspect::FormatJson(inspect::ReadJobStream(data, size, options));
    return true;
  }
  if (strcmp(target, "raster_page_loop") != 0) return false;
  char* buf = nullptr;
  size_t len = 0;
  FILE* mem = open_memstream(&buf, &len);
  if (mem == nullptr) return false;
  RunRasterPageLoop(data, size, mem);
  fclose(mem);
  out.assign(buf, len);
  free(buf);
  lumora::test::MaskVolatile(out);
  return true;
}

FuzzEntry FindFuzzTarget(const char* name) {
  for (size_t i = 0; i < kFuzzTargetCount; ++i)
    if (strcmp(kFuzzTargets[i].name, name) == 0) return kFuzzTargets[i].entry;
  return nullptr;
}

}  // namespace lumora::test::fuzz
