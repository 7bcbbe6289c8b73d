// SPDX-License-Identifier: GPL-2.0-or-later
// The lumora-inspect program: exit status, error lines, JSON, and the page
// files it writes (PBM bits as sent, PNG read back with libpng).
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "stream_builders.h"

namespace lumora::test {

namespace fs = std::filesystem;

namespace {

class InspectProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lumora-inspect-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const Bytes& data) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
    return path;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Runs the program; returns its exit status, output in out_ and err_.
  int Run(const std::string& args) {
    std::string cmd = std::string(LUMORA_INSPECT) + " " + args + " >" + dir_ + "/out 2>" + dir_ + "/err";
    int status = std::system(cmd.c_str());
    out_ = Slurp(dir_ + "/out");
    err_ = Slurp(dir_ + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_, out_, err_;
};

// Gray samples of a PNG, one per pixel, with its bit depth.
std::vector<int> ReadPng(const std::string& path, unsigned& width, unsigned& height, int& depth) {
  std::vector<int> samples;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return samples;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    depth = png_get_bit_depth(png, info);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (unsigned y = 0; y < height; y++) {
      png_read_row(png, row.data(), nullptr);
      for (unsigned x = 0; x < width; x++) {
        unsigned bit = x * unsigned(depth);
        samples.push_back((row[bit / 8] >> (8 - depth - bit % 8)) & ((1 << depth) - 1));
      }
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return samples;
}

}  // namespace

TEST_F(InspectProgram, WritesPagesAndJson) {
  TestPage one, two;
  one.bitmap = TestBitmap(96, 40);
  two.bitmap = TestBitmap(96, 40, true);
  two.number = 2;
  two.depth = 2;
  std::string job = Write("job.prn", BuildJobM({one, two}));
  ASSERT_EQ(Run("--json --pbm " + dir_ + "/pbm --png " + dir_ + "/png " + job), 0) << err_;
  EXPECT_NE(out_.find("\"ok\": true"), std::string::npos);
  EXPECT_NE(out_.find("\"page_count\": 2"), std::string::npos);
  EXPECT_NE(out_.find("\"png\": \"" + dir_ + "/png/page-002.png\""), std::string::npos);

  std::string pbm = Slurp(dir_ + "/pbm/page-001.pbm");
  EXPECT_EQ(pbm, "P4\n96 40\n" + std::string(one.bitmap.bits.begin(), one.bitmap.bits.end()));

  unsigned w = 0, h = 0;
  int depth = 0;
  std::vector<int> gray = ReadPng(dir_ + "/png/page-001.png", w, h, depth);
  ASSERT_EQ(gray.size(), 96u * 40u);
  EXPECT_EQ(depth, 1);
  for (unsigned i = 0; i < gray.size(); i++)
    ASSERT_EQ(gray[i], 1 - ((one.bitmap.bits[i / 8] >> (7 - i % 8)) & 1)) << "pixel " << i;

  // 1200-dpi PLATFORM_M page: 48 pixels of 2 bits, level 3 = black.
  gray = ReadPng(dir_ + "/png/page-002.png", w, h, depth);
  ASSERT_EQ(gray.size(), 48u * 40u);
  EXPECT_EQ(depth, 2);
  for (unsigned i = 0; i < gray.size(); i++)
    ASSERT_EQ(gray[i], 3 - ((two.bitmap.bits[i / 4] >> (6 - 2 * (i % 4))) & 3)) << "pixel " << i;
}

TEST_F(InspectProgram, SummaryNamesPagesAndErrors) {
  TestPage page;
  page.bitmap = TestBitmap(64, 300);
  Bytes job = BuildJobZ({page});
  ASSERT_EQ(Run(Write("good.prn", job)), 0) << err_;
  EXPECT_NE(out_.find("PLATFORM_Z job stream"), std::string::npos) << out_;
  EXPECT_NE(out_.find("paper code 1 (A4)"), std::string::npos) << out_;
  EXPECT_NE(out_.find("@PJL JOBOWNER=printhost"), std::string::npos) << out_;

  size_t at = Find(job, {0x0B, 0x12, 0x12});
  job[at + 17] ^= 0xFF;
  EXPECT_EQ(Run("--quiet " + Write("bad.prn", job)), 1);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("error at byte " + std::to_string(at + 17)), std::string::npos) << err_;

  EXPECT_EQ(Run(""), 2);
  EXPECT_EQ(Run(dir_ + "/missing.prn"), 2);
}

}  // namespace lumora::test
