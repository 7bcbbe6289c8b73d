// SPDX-License-Identifier: GPL-2.0-or-later
// Corpus replay: feeds every file of a target's corpus folder through the
// same entry function the libFuzzer target drives. Built with the normal
// compiler, so the replay runs in every build (and under the sanitizers in
// the sanitizer build).
//   lumora_corpus_replay TARGET PATH...   (files or folders)
// The filters' own messages go to /dev/null unless LUMORA_FUZZ_VERBOSE is
// set; failures and sanitizer reports stay on standard error.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "fuzz_support.h"

extern "C" __attribute__((weak)) void __sanitizer_set_report_fd(void* fd);

namespace {

void Collect(const std::string& path, std::vector<std::string>& files) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    fprintf(stderr, "lumora_corpus_replay: no such file: %s\n", path.c_str());
    exit(2);
  }
  if (!S_ISDIR(st.st_mode)) {
    files.push_back(path);
    return;
  }
  DIR* d = opendir(path.c_str());
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const auto& n : names) Collect(path + "/" + n, files);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s TARGET PATH...\n", argv[0]);
    return 2;
  }
  lumora_fuzz::FuzzEntry entry = lumora_fuzz::FindFuzzTarget(argv[1]);
  if (entry == nullptr) {
    fprintf(stderr, "lumora_corpus_replay: unknown target %s\n", argv[1]);
    return 2;
  }
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) Collect(argv[i], files);
  if (files.empty()) {
    fprintf(stderr, "lumora_corpus_replay: empty corpus for %s\n", argv[1]);
    return 2;
  }

  // Keep a descriptor on the real standard error for reports.
  const int report = dup(2);
  lumora_fuzz::gReportFd = report;
  if (getenv("LUMORA_FUZZ_VERBOSE") == nullptr) {
    if (__sanitizer_set_report_fd != nullptr)
      __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(report)));
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
  }

  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dprintf(report, "%s: %s (%zu bytes)\n", argv[1], f.c_str(), data.size());
    entry(data.data(), data.size());
  }
  dprintf(report, "%s: %zu inputs replayed\n", argv[1], files.size());
  return 0;
}
