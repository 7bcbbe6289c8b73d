// SPDX-License-Identifier: GPL-2.0-or-later
// Arguments and environment made to break a shell, given to both filters on
// every road: job titles, user names, job ids, option strings, file paths,
// the queue name, PPD path, TMPDIR and device URI holding shell
// metacharacters, quotes, newlines, format directives and very long values.
// Each value tries to create a canary file; none may appear, no file may be
// left outside the job's own temporary files, and no filter may crash.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "faults_support.h"

namespace lumora::test {

using namespace faults;

namespace {

// Values that run `touch <canary>` if any shell ever sees them.
std::vector<std::string> HostileValues(const std::string& canary) {
  const std::string c = canary + "/";
  return {
      "$(touch " + c + "dollar)",
      "`touch " + c + "backtick`",
      "; touch " + c + "semicolon ;",
      "' ; touch " + c + "single ; '",
      "\" ; touch " + c + "double ; \"",
      "| touch " + c + "pipe",
      "&& touch " + c + "and &",
      "line one\nline two\r\n$(touch " + c + "newline)\n",
      "%s%s%s%n%n%x%99999999d",
      std::string(100000, 'L') + "$(touch " + c + "long)",
      "../../../../tmp/lumora-escape \\ $HOME ${IFS} * ? [a-z] ~ #",
  };
}

// Option strings: the same tricks in option names, values and quoting.
std::vector<std::string> HostileOptions(const std::string& canary) {
  const std::string c = canary + "/";
  return {
      "PageSize=$(touch " + c + "o1) media='$(touch " + c + "o2)' Collate=True "
      "InputSlot=\"`touch " + c + "o3`\" Duplex=DuplexNoTumble",
      "PageSize=Custom.$(touch " + c + "o4) FeedEdge=LongEdge;touch " + c + "o5 x={$(touch " + c + "o6)}",
      "ManualDuplex=True Density='; touch " + c + "o7' TonerMode=\"\n$(touch " + c + "o8)\"",
      "job-name=" + std::string(60000, 'N') + " noCollate collate number-up=`touch " + c + "o9`",
  };
}

struct Road {
  const char* name;
  bool raster;
  const char* model;
  bool pdf = false;
};

class HostileArgs : public ::testing::Test {
 protected:
  HostileArgs() {
    for (const std::string& d : {canary_, work_, files_, tmp_}) mkdir(d.c_str(), 0700);
  }

  void ExpectNothingEscaped(const Outcome& r, const std::string& what) {
    EXPECT_FALSE(r.hung) << what;
    EXPECT_EQ(0, r.signal) << what << "\n" << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << what << " status " << r.status;
    EXPECT_TRUE(ListDir(canary_).empty()) << what << ": a command ran";
    EXPECT_TRUE(ListDir(work_).empty()) << what << ": a file appeared in the working directory";
    EXPECT_TRUE(ListDir(tmp_).empty()) << what << ": temporary files left";
  }

  TempDir dir_;
  std::string canary_ = dir_.File("canary");
  std::string work_ = dir_.File("work");
  std::string files_ = dir_.File("files");
  // TMPDIR itself has a name a shell would choke on.
  std::string tmp_ = dir_.File("tmp $(touch tmpdir-canary) ;'\"`touch tmpdir-canary2`");
};

TEST_F(HostileArgs, NoCommandRunsAndNoFileEscapes) {
  const Road roads[] = {
      {"raster", true, kRasterModelZ},
      {"ps_maple", false, kMapleNick},
      {"ps_plain", false, kPlainNick},
      {"pdf_larch", false, kLarchNick, true},
  };
  const std::vector<std::string> values = HostileValues(canary_);
  const std::vector<std::string> options = HostileOptions(canary_);
  // Job files whose names a shell would run (relative canaries land in the
  // working directory).
  const std::string oddName = "job $(touch name-canary) `touch name-canary2`;touch name-canary3;'\"\n";

  // The canaries do show a shell: one value through sh -c creates its file.
  RunOptions shell;
  shell.argv = {"/bin/sh", "-c", "echo " + values[0]};
  RunProgram(shell);
  ASSERT_EQ(1u, ListDir(canary_).size());
  unlink((canary_ + "/dollar").c_str());

  std::map<std::string, int> statuses;
  for (const Road& road : roads) {
    // The PPD under a hostile path too.
    const std::string ppd = files_ + "/" + road.name + " $(touch ppd-canary);'.ppd";
    WriteFile(ppd, road.raster ? RasterPpd(road.model) : PsPpdText(road.model));
    std::string job = files_ + "/" + oddName + road.name;
    if (road.raster) {
      MakeRasterJob(job, 2, 72, 72);
    } else {
      const std::string ps = files_ + "/" + road.name + ".ps";
      WriteFile(ps, PsJobText(3));
      if (road.pdf) {
        ASSERT_TRUE(MakePdfJob(ps, job));
      } else {
        WriteFile(job, PsJobText(3));
      }
    }
    for (size_t i = 0; i < values.size(); ++i) {
      Launch l;
      l.program = road.raster ? RasterFilter() : PsFilter();
      l.cwd = work_;
      l.queue = i % 2 ? values[(i + 3) % values.size()] : "lumora-q";
      const std::string jobId = i % 3 == 0 ? values[(i + 2) % values.size()] : std::to_string(100 + i);
      l.args = {jobId, values[(i + 1) % values.size()], values[i], "2", options[(i / 2) % options.size()]};
      // Half the runs name the job file, half feed it on standard input; each
      // option string meets both (the custom size sends the file to grep).
      if (i % 2 == 0) l.args.push_back(job);
      else l.stdinFile = job;
      l.env = {{"PPD", ppd},
               {"TMPDIR", tmp_},
               {"DEVICE_URI", "socket://$(touch " + canary_ + "/uri):9100/`touch " + canary_ + "/uri2`"},
               {"PRINTER", values[i % values.size()]},
               {"LUMORA_KEEPALIVE_INTERVAL_MS", "50"}};
      l.watchdogSeconds = 60;
      Outcome r = RunFilter(l);
      ExpectNothingEscaped(r, std::string(road.name) + " value " + std::to_string(i));
      statuses[std::string(road.name) + (r.status == 0 ? " printed" : " refused")]++;
    }
  }
  for (const auto& kv : statuses) printf("%s: %d runs\n", kv.first.c_str(), kv.second);
  // Hostile text is only text: most jobs still print.
  EXPECT_GE(statuses["raster printed"], 8);
  EXPECT_GE(statuses["ps_plain printed"], 8);
  EXPECT_GE(statuses["pdf_larch printed"], 8);
}

}  // namespace

}  // namespace lumora::test
