// SPDX-License-Identifier: GPL-2.0-or-later
// Page start: paper, media, tray, resolution and copies of each page, and
// the custom paper size (byte-coded records on PLATFORM_C/Z, a parameter
// list on PLATFORM_M).
#include "command_bytes.h"
#include "commands.h"

namespace lumora {

namespace {

void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

bool StartPage_CZ(CommandStream& job, StreamPage& page, const PrntPageInfo* info, int platform) {
  const Route& to = page.route;
  page.coverage = 0;
  uint8_t pageSpec[kPageSpecLen];
  GetPageSpecCmd(info, pageSpec, platform);
  uint8_t customPaper[kCustomPaperLen];
  GetCustomPaperCmd(info, customPaper, platform);
  Insert00(job, to);
  if (!SendRecords(
          job, to,
          {{pageSpec, sizeof(pageSpec), "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n", kThen00},
           {customPaper, sizeof(customPaper), "Prnt_StartPage() :: send cmdCustomPaper Fail 0 ==  \n",
            kThen00}}))
    return false;
  return platform != PLATFORM_C ||
         SendRecords(job, to,
                     {{hostUseCmd, sizeof(hostUseCmd),
                       "Prnt_StartPage() :: send hostUseCmd Fail 0 ==  \n", kThen00}});
}

struct PageParam {
  uint16_t id;
  uint32_t value;
  const char* failure;
};

bool StartPage_M(CommandStream& job, StreamPage& streamPage, const PrntPageInfo* page) {
  const bool custom = page->paperSize == kCustomPaperCode;
  const uint32_t depth = page->dpi1200 == 1 ? 2 : 1;
  PageParam params[17];
  size_t n = 0;
  auto add = [&](uint16_t id, uint32_t value, const char* failure) {
    params[n++] = PageParam{id, value, failure};
  };
  add(PAPER_SIZE_PARAM, page->paperSize, "Prnt_StartPage() :: send PAPER_SIZE_PARAM Fail 0 ==  \n");
  if (custom) {
    add(CUSTOM_PAPER_UNIT_PARAM, 0,
        "Prnt_StartPage() :: send CUSTOM_PAPER_UNIT_PARAM Fail 0 ==  \n");
    add(CUSTOM_WIDTH_PARAM, page->paperWidth,
        "Prnt_StartPage() :: send CUSTOM_WIDTH_PARAM Fail 0 ==  \n");
    add(CUSTOM_HEIGHT_PARAM, page->paperHeight,
        "Prnt_StartPage() :: send CUSTOM_HEIGHT_PARAM Fail 0 ==  \n");
  }
  add(COPIES_PARAM, page->copies, "Prnt_StartPage() :: send COPIES_PARAM Fail 0 ==  \n");
  add(INPUT_TRAY_PARAM, page->inputSlot, "Prnt_StartPage() :: send INPUT_TRAY_PARAM Fail 0 ==  \n");
  add(MEDIA_TYPE_PARAM, page->mediaType, "Prnt_StartPage() :: send MEDIA_TYPE_PARAM Fail 0 ==  \n");
  add(CHANNEL_NUM_PARAM, 1, "Prnt_StartPage() :: send CHANNEL_NUM_PARAM Fail 0 ==  \n");
  add(H_RESOLUTION_PARAM, page->hResolution,
      "Prnt_StartPage() :: send H_RESOLUTION_PARAM Fail 0 ==  \n");
  add(V_RESOLUTION_PARAM, page->vResolution,
      "Prnt_StartPage() :: send V_RESOLUTION_PARAM Fail 0 ==  \n");
  add(RET_PARAM, 0, "Prnt_StartPage() :: send RET_PARAM Fail 0 ==  \n");
  add(IMG_WIDTH_PARAM, page->imageWidth * depth,
      "Prnt_StartPage() :: send IMG_WIDTH_PARAM Fail 0 ==  \n");
  add(IMG_HEIGHT_PARAM, page->imageHeight, "Prnt_StartPage() :: send IMG_HEIGHT_PARAM Fail 0 ==  \n");
  add(VIDEO_DEPTH_PARAM, depth, "Prnt_StartPage() :: send VIDEO_DEPTH_PARAM Fail 0 ==  \n");
  add(VIDEO_WIDTH_PARAM, page->imageWidth, "Prnt_StartPage() :: send VIDEO_WIDTH_PARAM Fail 0 ==  \n");
  add(VIDEO_HEIGHT_PARAM, page->imageHeight,
      "Prnt_StartPage() :: send VIDEO_HEIGHT_PARAM Fail 0 ==  \n");
  add(DENSITY_PARAM, page->pageDensity, "Prnt_StartPage() :: send DENSITY_PARAM Fail 0 ==  \n");

  const Route& to = streamPage.route;
  uint8_t header[kCmdHeaderLen];
  const uint32_t count = static_cast<uint32_t>(n);
  SetCmdType(header, static_cast<uint32_t>(kCmdHeaderLen + kCmdParamLen * n), START_PAGE_CMD, count,
             static_cast<uint16_t>(kCmdParamLen * n), kCmdMagic);
  if (!SendStep(job, to, header, sizeof(header),
                "Prnt_StartPage() :: send START_PAGE_CMD Fail 0 ==  \n"))
    return false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t param[kCmdParamLen];
    SetCmdParam(param, params[i].id, kCmdParamKind, params[i].value);
    if (!SendStep(job, to, param, sizeof(param), params[i].failure)) return false;
  }
  return true;
}

}  // namespace

void GetPageSpecCmd(const PrntPageInfo* page, uint8_t* buf, int platform) {
  buf[0] = kRecordMarker;
  buf[1] = kPageSpecLen;
  buf[2] = 0x12;
  buf[3] = static_cast<uint8_t>(page->paperSize);
  buf[4] = static_cast<uint8_t>(page->mediaType);
  buf[5] = static_cast<uint8_t>(page->hResolution);
  buf[6] = static_cast<uint8_t>(page->vResolution);
  buf[7] = static_cast<uint8_t>(page->inputSlot);
  buf[8] = platform == PLATFORM_C
               ? static_cast<uint8_t>(page->pageFlagsA | page->longEdgeFlag | page->pageFlagsB)
               : 0;
  PutLE16(buf + 9, page->copies);
  PutLE16(buf + 11, page->paperParam1);
  PutLE16(buf + 13, page->paperParam2);
  PutLE16(buf + 15, page->pageNumber);
  buf[17] = CalcChecksum(buf, 17);
}

void GetCustomPaperCmd(const PrntPageInfo* page, uint8_t* buf, int platform) {
  const bool custom = (platform == PLATFORM_C || platform == PLATFORM_Z) &&
                      page->paperSize == CustomPaperCode(platform);
  buf[0] = kRecordMarker;
  buf[1] = kCustomPaperLen;
  buf[2] = 0x13;
  PutLE16(buf + 3, custom ? page->paperWidth : 0);
  PutLE16(buf + 5, custom ? page->paperHeight : 0);
  PutLE16(buf + 7, custom ? page->imageWidth : 0);
  PutLE16(buf + 9, custom ? page->imageHeight : 0);
  buf[11] = CalcChecksum(buf, 11);
}

bool Prnt_StartPage(CommandStream& job, StreamPage& page, PrntPageInfo* info, int platform) {
  if (!IsKnownPlatform(platform) || info == nullptr) return false;
  if (platform == PLATFORM_M) return StartPage_M(job, page, info);
  return StartPage_CZ(job, page, info, platform);
}

}  // namespace lumora
