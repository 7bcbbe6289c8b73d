// SPDX-License-Identifier: GPL-2.0-or-later
// Corpus replay: feeds every file of a target's corpus folder through the
// same entry function the libFuzzer target drives. Built with the normal
// compiler, so the replay runs in every build (and under the sanitizers in
// the sanitizer build).
//   lumora_corpus_replay TARGET PATH... [--digests FILE]   (files or folders)
// With --digests, the digest of what the driver makes of each input (see
// FuzzOutput) is compared with the one FILE records for the input's file
// name; LUMORA_FUZZ_RECORD=1 prints the lines of FILE instead.
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
#include <map>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "fuzz_support.h"
#include "test_support.h"

extern "C" __attribute__((weak)) void __sanitizer_set_report_fd(void* fd);

namespace lumora::test {

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

// "NAME DIGEST" lines.
std::map<std::string, std::string> ReadDigests(const std::string& path) {
  std::map<std::string, std::string> table;
  std::ifstream in(path);
  if (!in) {
    fprintf(stderr, "lumora_corpus_replay: cannot read %s\n", path.c_str());
    exit(2);
  }
  std::string name, digest;
  while (in >> name >> digest) table[name] = digest;
  return table;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

}  // namespace lumora::test

int main(int argc, char** argv) {
  using namespace lumora::test;
  if (argc < 3) {
    fprintf(stderr, "usage: %s TARGET PATH...\n", argv[0]);
    return 2;
  }
  lumora::test::fuzz::FuzzEntry entry = lumora::test::fuzz::FindFuzzTarget(argv[1]);
  if (entry == nullptr) {
    fprintf(stderr, "lumora_corpus_replay: unknown target %s\n", argv[1]);
    return 2;
  }
  std::vector<std::string> files;
  std::string digestFile;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--digests" && i + 1 < argc) {
      digestFile = argv[++i];
      continue;
    }
    Collect(argv[i], files);
  }
  const bool record = getenv("LUMORA_FUZZ_RECORD") != nullptr;
  std::map<std::string, std::string> recorded;
  if (!digestFile.empty() && !record) recorded = ReadDigests(digestFile);
  if (files.empty()) {
    fprintf(stderr, "lumora_corpus_replay: empty corpus for %s\n", argv[1]);
    return 2;
  }

  // Keep a descriptor on the real standard error for reports.
  const int report = dup(2);
  lumora::test::fuzz::gReportFd = report;
  if (getenv("LUMORA_FUZZ_VERBOSE") == nullptr) {
    if (__sanitizer_set_report_fd != nullptr)
      __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(report)));
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
  }

  int mismatches = 0;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dprintf(report, "%s: %s (%zu bytes)\n", argv[1], f.c_str(), data.size());
    entry(data.data(), data.size());
    std::string out;
    if (digestFile.empty() || !lumora::test::fuzz::FuzzOutput(argv[1], data.data(), data.size(), out))
      continue;
    const std::string name = BaseName(f), digest = Digest(out);
    if (record) {
      printf("%s %s\n", name.c_str(), digest.c_str());
    } else if (recorded[name] != digest) {
      dprintf(report, "%s: %s makes %s, recorded %s\n", argv[1], name.c_str(), digest.c_str(),
              recorded[name].empty() ? "nothing" : recorded[name].c_str());
      ++mismatches;
    }
  }
  dprintf(report, "%s: %zu inputs replayed\n", argv[1], files.size());
  return mismatches == 0 ? 0 : 1;
}
