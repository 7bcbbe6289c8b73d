// SPDX-License-Identifier: GPL-2.0-or-later
// Routing of the output sink between the device and the spool files, and
// what it reports when a destination fails.
#include <fcntl.h>
#include <unistd.h>

#include "stream_test_util.h"

namespace lumora::test {

namespace {

using stream::StreamTest;

// A spool file as the page loop holds it: a bare descriptor.
struct Spool {
  FILE* file = tmpfile();
  int fd() const { return fileno(file); }
  std::string Read() const {
    std::string data;
    char chunk[4096];
    lseek(fd(), 0, SEEK_SET);
    for (ssize_t n; (n = read(fd(), chunk, sizeof(chunk))) > 0;) data.append(chunk, n);
    return data;
  }
  ~Spool() { fclose(file); }
};

class OutputSinkTest : public StreamTest {};

TEST_F(OutputSinkTest, NullDataReplacesTheErrorTextAndWritesNothing) {
  job_.lastError.Set("older text");
  EXPECT_EQ(SendDataToFile(job_, job_.route, nullptr, 4, true), 0);
  EXPECT_STREQ(job_.lastError.c_str(), "SendDataToFile() :: NULL == pData");
  EXPECT_EQ(Take(), "");
}

TEST_F(OutputSinkTest, NoDestinationIsAFailure) {
  job_.route.toDevice = false;
  EXPECT_EQ(SendDataToFile(job_, job_.route, "ab", 2, false), 0);
  EXPECT_EQ(SendDataToFile(job_, job_.route, "ab", 2, true), 0);
}

TEST_F(OutputSinkTest, ManualDuplexRoutesByPageParity) {
  Spool odd, even, collate;
  job_.sink.oddFile.Reset(dup(odd.fd()));
  job_.sink.evenFile.Reset(dup(even.fd()));
  job_.sink.collateFile.Reset(dup(collate.fd()));

  const Route page3{3, true, nullptr};
  EXPECT_EQ(SendDataToFile(job_, page3, "page3", 5, true), 1);
  EXPECT_EQ(SendDataToFile(job_, page3, "dev", 3, false), 1);  // device only, never spooled
  const Route page4{4, false, nullptr};
  EXPECT_EQ(SendDataToFile(job_, page4, "page-4", 6, true), 1);
  EXPECT_EQ(SendDataToFile(job_, page4, "xx", 2, false), 0);  // nowhere to go

  EXPECT_EQ(Take(), "page3dev");
  EXPECT_EQ(odd.Read(), "page3");
  EXPECT_EQ(even.Read(), "page-4");
  EXPECT_EQ(collate.Read(), "page3page-4");
  ASSERT_EQ(job_.sink.cacheSize.size(), 2u);
  EXPECT_EQ(job_.sink.cacheSize[0], 0u);
  EXPECT_EQ(job_.sink.cacheSize[1], 6u);
}

TEST_F(OutputSinkTest, SizeTableGrowsPastTwoThousandPages) {
  Spool even;
  job_.sink.evenFile.Reset(dup(even.fd()));
  for (int page : {2, 4096, 5000}) {
    EXPECT_EQ(SendDataToFile(job_, Route{page, false, nullptr}, "abc", 3, true), 1);
  }
  ASSERT_EQ(job_.sink.cacheSize.size(), 2500u);
  EXPECT_EQ(job_.sink.cacheSize[0], 3u);
  EXPECT_EQ(job_.sink.cacheSize[2047], 3u);
  EXPECT_EQ(job_.sink.cacheSize[2499], 3u);
}

TEST_F(OutputSinkTest, FullDeviceFailsAndIsReported) {
  FailAfter(0);
  EXPECT_EQ(SendDataToFile(job_, job_.route, "abcd", 4, true), 0);
  EXPECT_EQ(faults_[0], 1);
  EXPECT_EQ(Insert00(job_, job_.route), 0);
  EXPECT_STREQ(job_.lastError.c_str(), "Insert00() :: Send 00 00 to file Fail0 ==  \n");
}

// A full spool disk drops every spool file and tells the job, but the page
// in progress still reaches the device whole.
TEST_F(OutputSinkTest, FullSpoolDropsTheSpoolFilesAndKeepsTheDeviceGoing) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GT(full, 0);
  job_.sink.collateFile.Reset(full);
  EXPECT_EQ(SendDataToFile(job_, page_.route, "abcd", 4, true), 1);
  EXPECT_EQ(faults_[1], 1);
  EXPECT_EQ(faults_[0], 0);
  EXPECT_FALSE(job_.sink.collateFile.open());
  EXPECT_EQ(SendDataToFile(job_, page_.route, "ef", 2, true), 1);
  EXPECT_EQ(Take(), "abcdef");
}

}  // namespace

}  // namespace lumora::test
