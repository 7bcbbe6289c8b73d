// Routing of the output sink between the device and the spool files, and
// what it reports when a destination fails.
#include <fcntl.h>
#include <unistd.h>

#include "stream_test_util.h"

namespace {

using stream_test::StreamTest;

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
  SetLastError("older text");
  EXPECT_EQ(SendDataToFile(nullptr, 4, 1), 0);
  EXPECT_STREQ(prntLastError, "SendDataToFile() :: NULL == pData");
  EXPECT_EQ(Take(), "");
}

TEST_F(OutputSinkTest, NoDestinationIsAFailure) {
  gSendDataToDevice = 0;
  EXPECT_EQ(SendDataToFile("ab", 2, 0), 0);
  EXPECT_EQ(SendDataToFile("ab", 2, 1), 0);
}

TEST_F(OutputSinkTest, ManualDuplexRoutesByPageParity) {
  Spool odd, even, collate;
  gManualDuplexOddFile = odd.fd();
  gManualDuplexEvenFile = even.fd();
  gCollateFile = collate.fd();

  g_page = 3;
  gSendDataToDevice = 1;
  EXPECT_EQ(SendDataToFile("page3", 5, 1), 1);
  EXPECT_EQ(SendDataToFile("dev", 3, 0), 1);  // device only, never spooled
  g_page = 4;
  gSendDataToDevice = 0;
  EXPECT_EQ(SendDataToFile("page-4", 6, 1), 1);
  EXPECT_EQ(SendDataToFile("xx", 2, 0), 0);  // nowhere to go

  EXPECT_EQ(Take(), "page3dev");
  EXPECT_EQ(odd.Read(), "page3");
  EXPECT_EQ(even.Read(), "page-4");
  EXPECT_EQ(collate.Read(), "page3page-4");
  ASSERT_EQ(gCacheSize.size(), 2u);
  EXPECT_EQ(gCacheSize[0], 0u);
  EXPECT_EQ(gCacheSize[1], 6u);
}

TEST_F(OutputSinkTest, SizeTableGrowsPastTwoThousandPages) {
  Spool even;
  gManualDuplexEvenFile = even.fd();
  gSendDataToDevice = 0;
  for (int page : {2, 4096, 5000}) {
    g_page = page;
    EXPECT_EQ(SendDataToFile("abc", 3, 1), 1);
  }
  ASSERT_EQ(gCacheSize.size(), 2500u);
  EXPECT_EQ(gCacheSize[0], 3u);
  EXPECT_EQ(gCacheSize[2047], 3u);
  EXPECT_EQ(gCacheSize[2499], 3u);
  ResetOutputSink();
  EXPECT_TRUE(gCacheSize.empty());
}

TEST_F(OutputSinkTest, FullDeviceFailsAndIsFlagged) {
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  SinkSetOutput(full);
  EXPECT_EQ(SendDataToFile("abcd", 4, 1), 0);
  EXPECT_EQ(gDeviceWriteFailed, 1);
  EXPECT_EQ(Insert00(), 0);
  EXPECT_STREQ(prntLastError, "Insert00() :: Send 00 00 to file Fail0 ==  \n");
  SinkSetOutput(out_);
  fclose(full);
}

// A full spool disk drops every spool file and flags the job, but the page
// in progress still reaches the device whole.
TEST_F(OutputSinkTest, FullSpoolDropsTheSpoolFilesAndKeepsTheDeviceGoing) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GT(full, 0);
  gCollateFile = full;
  g_page = 1;
  EXPECT_EQ(SendDataToFile("abcd", 4, 1), 1);
  EXPECT_EQ(gSpoolWriteFailed, 1);
  EXPECT_EQ(gDeviceWriteFailed, 0);
  EXPECT_EQ(gCollateFile, 0);
  EXPECT_EQ(SendDataToFile("ef", 2, 1), 1);
  EXPECT_EQ(Take(), "abcdef");
}

}  // namespace
