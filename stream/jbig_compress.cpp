// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG1 compression of the page with the driver's encoder (JBIG-KIT's for
// parameters it does not cover, with the same bytes). PLATFORM_C and
// PLATFORM_M send the page as one image; PLATFORM_Z sends 256-line bands,
// each an independent image, which are compressed in parallel and then laid
// out in band order exactly as a single thread would have produced them.
// JBIG-KIT's header declares C functions without a C++ guard.
extern "C" {
#include <jbig.h>
}
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "band_image.h"
#include "command_bytes.h"
#include "commands.h"
#include "jbig_encoder.h"

namespace lumora {

namespace {

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Byte sum of a compressed pass plus the universal exit sequence that
// follows it on PLATFORM_C: the printer checks the image against it.
uint32_t PassChecksum(const uint8_t* data, size_t len) {
  uint32_t sum = 0;
  for (size_t i = 0; i < len; ++i) sum += data[i];
  for (uint8_t b : UEL_CMD_C) sum += b;
  return sum & 0xFFu;
}

// The encoder reads (xd + 7) / 8 bytes a line while the page loop packs
// width / 8: a width that is no multiple of 8 gets lines padded with white.
const uint8_t* ImageForEncoder(const PrntBandInfo* band, std::vector<uint8_t>& padded) {
  if (band->width % 8 == 0) return band->image;
  const size_t srcLine = band->width / 8;
  const size_t dstLine = srcLine + 1;
  padded.assign(dstLine * band->height, 0);
  for (size_t y = 0; y < band->height; ++y) {
    if (srcLine > 0) memcpy(&padded[y * dstLine], band->image + y * srcLine, srcLine);
  }
  return padded.data();
}

// Worker threads run with every signal blocked, so that the cancel and
// keep-alive handlers of a filter stay on the job's thread.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t old_;
};

// The rows of the page that the screen has made final.
struct RowsWatcher {
  std::mutex lock;
  std::condition_variable rowsChanged;
  uint32_t rowsReady = 0;  // guarded by lock
};

struct BandResult {
  std::vector<uint8_t> data;
  bool ok = false;
};

void CompressBand(const PrntJbigParam& page, const uint8_t* image, size_t lineBytes,
                  size_t index, BandResult& result) {
  const int32_t first = static_cast<int32_t>(index) * kBandLines;
  const int32_t lines = std::min(kBandLines, page.yd - first);
  JbigOutput out;
  out.data = &result.data;
  result.ok = JBIGCompress(out, JbigParamWord0(page), static_cast<uint32_t>(page.xd),
                           static_cast<uint32_t>(lines), static_cast<uint32_t>(lines),
                           JbigParamWord4(page), image + static_cast<size_t>(first) * lineBytes) != 0;
}

// Compresses every band, spreading them over the worker threads. Workers run
// with all signals blocked so that the cancel and keep-alive handlers stay
// on the page loop's thread.
void CompressBands(unsigned threads, const PrntJbigParam& page, const uint8_t* image,
                   size_t lineBytes, std::vector<BandResult>& results) {
  std::atomic<size_t> next{0};
  auto worker = [&]() {
    for (size_t i = next++; i < results.size(); i = next++) {
      CompressBand(page, image, lineBytes, i, results[i]);
    }
  };

  std::vector<std::thread> workers;
  const unsigned count = StreamThreadCount(threads, results.size());
  if (count > 1) {
    SignalsBlocked blocked;
    for (unsigned t = 1; t < count; ++t) {
      try {
        workers.emplace_back(worker);
      } catch (...) {
        break;  // fewer threads: the rest of the bands are done here
      }
    }
  }
  worker();
  for (auto& t : workers) t.join();
}

// Bands compressed while the page is still being screened: each worker
// takes the next band and waits until its rows are final.
struct BandPipeline : RowsWatcher {
  PrntJbigParam page;
  const uint8_t* image = nullptr;
  size_t lineBytes = 0;
  std::vector<BandResult> results;
  std::atomic<size_t> next{0};
  std::atomic<size_t> finished{0};  // bands compressed
  bool stop = false;       // guarded by lock
  std::vector<std::thread> workers;

  // Takes bands until none is left; waits for a band's rows when asked to.
  void Work(bool wait) {
    for (size_t i = next++; i < results.size(); i = next++) {
      const uint32_t end = static_cast<uint32_t>(
          std::min<size_t>((i + 1) * kBandLines, static_cast<size_t>(page.yd)));
      if (wait) {
        std::unique_lock<std::mutex> hold(lock);
        rowsChanged.wait(hold, [&] { return stop || rowsReady >= end; });
        if (stop) return;
      }
      CompressBand(page, image, lineBytes, i, results[i]);
      ++finished;
    }
  }

  void Finish(bool dropResults) {
    {
      std::lock_guard<std::mutex> hold(lock);
      if (dropResults) stop = true;
      rowsReady = static_cast<uint32_t>(page.yd);
    }
    rowsChanged.notify_all();
    if (!dropResults) Work(false);  // this thread helps with the rest
    for (auto& t : workers) t.join();
    workers.clear();
  }
};


// PLATFORM_C and PLATFORM_M: the page is one JBIG image, encoded on a worker
// thread while the page loop still screens it. The encoder writes the
// image header, then each stripe right after encoding it, and a stripe reads
// only its own lines and the two above. The worker watches the encoder's
// output for the end of each stripe and, before the encoder goes on, waits
// until the rows of the next two stripes are final (one stripe to spare).
struct PagePipeline : RowsWatcher, JbigObserver {
  PrntJbigParam param;
  const uint8_t* image = nullptr;
  std::vector<uint8_t> data;
  bool ok = false;
  std::atomic<bool> done{false};  // the encoder has finished the page
  std::thread worker;

  // Reader of the encoder's output: the 20-byte header, then stripe data in
  // which a 0xFF byte is followed by 0x00 (a stuffed 0xFF) or opens a
  // marker: SDNORM/SDRST end a stripe; ATMOVE, NEWLEN and COMMENT carry
  // parameter bytes.
  size_t headerLeft = 20;
  bool escape = false;
  uint32_t skipLeft = 0;     // parameter bytes still to pass over
  int commentLengthLeft = 0; // bytes of a COMMENT length still to read
  uint32_t commentLength = 0;
  uint32_t stripesDone = 0;

  void WaitRows(uint32_t rows) {
    rows = std::min<uint32_t>(rows, static_cast<uint32_t>(param.yd));
    std::unique_lock<std::mutex> hold(lock);
    rowsChanged.wait(hold, [&] { return rowsReady >= rows; });
  }

  void Observe(const uint8_t* p, size_t len) override {
    const uint32_t before = stripesDone;
    for (size_t i = 0; i < len; ++i) {
      const uint8_t b = p[i];
      if (headerLeft > 0) {
        --headerLeft;
      } else if (commentLengthLeft > 0) {
        commentLength = (commentLength << 8) | b;
        if (--commentLengthLeft == 0) skipLeft = commentLength;
      } else if (skipLeft > 0) {
        --skipLeft;
      } else if (escape) {
        escape = false;
        if (b == 0x02 || b == 0x03) ++stripesDone;  // SDNORM, SDRST
        else if (b == 0x06) skipLeft = 6;            // ATMOVE
        else if (b == 0x05) skipLeft = 4;            // NEWLEN
        else if (b == 0x07) {                        // COMMENT
          commentLengthLeft = 4;
          commentLength = 0;
        }
      } else if (b == 0xFF) {
        escape = true;
      }
    }
    if (stripesDone != before)
      WaitRows((stripesDone + 2) * static_cast<uint32_t>(param.l0));
  }

  void Run() {
    JbigOutput out;
    out.data = &data;
    out.observer = this;
    WaitRows(2 * static_cast<uint32_t>(param.l0));
    ok = JBIGCompress(out, JbigParamWord0(param), static_cast<uint32_t>(param.xd),
                      static_cast<uint32_t>(param.yd), static_cast<uint32_t>(param.l0),
                      JbigParamWord4(param), image) != 0;
    done = true;
  }

  void Finish() {
    {
      std::lock_guard<std::mutex> hold(lock);
      rowsReady = static_cast<uint32_t>(param.yd);
    }
    rowsChanged.notify_all();
    if (worker.joinable()) worker.join();
  }
};

}  // namespace

// The compression threads of a job's current page.
struct EncoderState {
  std::unique_ptr<BandPipeline> bands;  // PLATFORM_Z
  std::unique_ptr<PagePipeline> page;   // PLATFORM_C and PLATFORM_M
  ~EncoderState() {
    if (page) page->Finish();
    if (bands) bands->Finish(true);
  }
};

void EncoderDeleter::operator()(EncoderState* state) const { delete state; }

EncoderHandle NewEncoder() { return EncoderHandle(new EncoderState); }

bool EncoderDone(const EncoderState& state) {
  if (state.page && !state.page->done.load()) return false;
  if (state.bands && state.bands->finished.load() < state.bands->results.size()) return false;
  return true;
}

namespace {

void StopBandPipeline(StreamPage& page);

bool CompressBandedPage(const CommandStream& job, StreamPage& streamPage, const PrntJbigParam& page,
                        const uint8_t* image, size_t lineBytes, std::vector<uint8_t>& outBuf) {
  const size_t height = static_cast<size_t>(page.yd);
  const size_t bands = (height + kBandLines - 1) / kBandLines;
  std::vector<BandResult> results;
  std::unique_ptr<BandPipeline> started = std::move(streamPage.encoder->bands);
  if (started && started->image == image && started->page.xd == page.xd &&
      started->page.yd == page.yd && started->lineBytes == lineBytes) {
    started->Finish(false);
    results = std::move(started->results);
  } else {
    if (started) started->Finish(true);
    results.resize(bands);
    CompressBands(job.threads, page, image, lineBytes, results);
  }
  started.reset();

  size_t total = 0;
  for (const auto& r : results) {
    if (!r.ok) return false;
    total += kBandHeaderLen + r.data.size();
  }
  outBuf.reserve(outBuf.size() + total);
  for (size_t i = 0; i < bands; ++i) {
    PrntJbigParam band = page;
    band.yd = std::min<int32_t>(kBandLines, page.yd - static_cast<int32_t>(i) * kBandLines);
    band.l0 = band.yd;
    uint8_t header[kBandHeaderLen];
    GetBandHeader(band, static_cast<uint32_t>(results[i].data.size()),
                  static_cast<uint32_t>(i * kBandLines), header);
    outBuf.insert(outBuf.end(), header, header + sizeof(header));
    outBuf.insert(outBuf.end(), results[i].data.begin(), results[i].data.end());
    streamPage.checksum = PassChecksum(results[i].data.data(), results[i].data.size());
    std::vector<uint8_t>().swap(results[i].data);
  }
  return true;
}

void StartBandPipeline(const CommandStream& job, StreamPage& streamPage, const uint8_t* image,
                       uint32_t width, uint32_t height) {
  StopBandPipeline(streamPage);
  const size_t bands = (static_cast<size_t>(height) + kBandLines - 1) / kBandLines;
  // One thread asked for, or one band: the page is compressed after
  // screening on the job's thread, as without the pipeline.
  const unsigned count = StreamThreadCount(job.threads, bands);
  if (image == nullptr || width % 8 != 0 || count < 2) return;
  auto p = std::make_unique<BandPipeline>();
  PrntBandInfo band;
  band.width = static_cast<uint16_t>(width);
  band.height = static_cast<uint16_t>(height);
  p->page = MakeJbigParam(&band, PLATFORM_Z);
  p->image = image;
  p->lineBytes = width / 8;
  p->results.resize(bands);
  SignalsBlocked blocked;
  BandPipeline* raw = p.get();
  for (unsigned t = 0; t < count; ++t) {
    try {
      p->workers.emplace_back([raw] { raw->Work(true); });
    } catch (...) {
      break;  // the bands left are done when the page is sent
    }
  }
  streamPage.encoder->bands = std::move(p);
}

void StopBandPipeline(StreamPage& page) {
  std::unique_ptr<BandPipeline> p = std::move(page.encoder->bands);
  if (p) p->Finish(true);
}

// One encoder thread following the screen of a PLATFORM_C or PLATFORM_M page.
std::unique_ptr<PagePipeline> StartPagePipeline(const PrntBandInfo* band, int platform) {
  auto p = std::make_unique<PagePipeline>();
  p->param = MakeJbigParam(band, platform);
  if (p->param.l0 <= 0) return nullptr;
  p->image = band->image;
  SignalsBlocked blocked;
  PagePipeline* raw = p.get();
  try {
    p->worker = std::thread([raw] { raw->Run(); });
  } catch (...) {
    return nullptr;  // no thread: the page is compressed when it is sent
  }
  return p;
}

}  // namespace

void StartPipelinedCompression(const CommandStream& job, StreamPage& page, const PrntBandInfo* band,
                               int platform) {
  StopPipelinedCompression(page);
  if (band == nullptr || band->image == nullptr) return;
  if (platform == PLATFORM_Z) {
    StartBandPipeline(job, page, band->image, band->width, band->height);
    return;
  }
  if (platform != PLATFORM_C && platform != PLATFORM_M) return;
  // A second thread must be allowed, and the encoder must read the page
  // loop's image itself (whole bytes a line).
  if (band->width % 8 != 0 || band->height == 0 || StreamThreadCount(job.threads, 2) < 2) return;
  page.encoder->page = StartPagePipeline(band, platform);
}

void CompressionRowsReady(StreamPage& page, uint32_t rows) {
  for (RowsWatcher* p : {static_cast<RowsWatcher*>(page.encoder->page.get()),
                         static_cast<RowsWatcher*>(page.encoder->bands.get())}) {
    if (p == nullptr) continue;
    {
      std::lock_guard<std::mutex> hold(p->lock);
      if (rows > p->rowsReady) p->rowsReady = rows;
    }
    p->rowsChanged.notify_all();
  }
}

void StopPipelinedCompression(StreamPage& page) {
  std::unique_ptr<PagePipeline> p = std::move(page.encoder->page);
  if (p) p->Finish();  // the encoder runs to the end over the rows as they are
  StopBandPipeline(page);
}

PrntJbigParam MakeJbigParam(const PrntBandInfo* band, int platform) {
  PrntJbigParam p;
  p.planes = 1;
  p.xd = band->width;
  p.yd = band->height;
  switch (platform) {
    case PLATFORM_C:
      p.dl = 0;
      p.l0 = band->stripeLines;
      p.mx = 8;
      p.order = 0;
      p.options = JBG_TPBON;
      break;
    case PLATFORM_Z:
      p.dl = 255;
      p.l0 = kBandLines;
      p.order = JBG_ILEAVE | JBG_SMID;
      p.options = JBG_LRLTWO | JBG_TPDON | JBG_TPBON;
      break;
    default:
      p.dl = 0;
      p.l0 = kBandLines;
      p.order = JBG_ILEAVE | JBG_SMID;
      p.options = JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON;
      break;
  }
  return p;
}

uint32_t JbigParamWord0(const PrntJbigParam& param) {
  return static_cast<uint32_t>(param.dl) | (static_cast<uint32_t>(param.planes) << 16);
}

uint32_t JbigParamWord4(const PrntJbigParam& param) {
  return static_cast<uint32_t>(param.mx) | (static_cast<uint32_t>(param.my) << 8) |
         (static_cast<uint32_t>(param.order) << 16) | (static_cast<uint32_t>(param.options) << 24);
}

void jbig_data_out(unsigned char* start, size_t len, void* file) {
  JbigOutput* out = static_cast<JbigOutput*>(file);
  if (out == nullptr || out->data == nullptr || out->outOfMemory) return;
  try {
    out->data->insert(out->data->end(), start, start + len);
    out->length += len;
  } catch (const std::bad_alloc&) {
    out->outOfMemory = true;  // must not unwind through the C encoder
  }
  if (out->observer != nullptr) out->observer->Observe(start, len);
}

bool JBIGCompress(JbigOutput& out, uint32_t dlPlanes, uint32_t xd, uint32_t yd, uint32_t l0,
                  uint32_t mxMyOrderOptions, const uint8_t* image) {
  const int dl = static_cast<int>(dlPlanes & 0xFFu);
  const int planes = static_cast<int>((dlPlanes >> 16) & 0xFFu);
  const int mx = static_cast<int>(mxMyOrderOptions & 0xFFu);
  const int order = static_cast<int>((mxMyOrderOptions >> 16) & 0xFFu);
  const int options = static_cast<int>((mxMyOrderOptions >> 24) & 0xFFu);

  out.length = 0;
  out.outOfMemory = false;
  if (planes == 1) {
    JbigImageParams params;
    params.xd = xd;
    params.yd = yd;
    params.l0 = l0;
    params.mx = mx;
    params.order = order;
    params.options = options;
    const JbigEncodeResult done = EncodeJbigImage(params, image, jbig_data_out, &out);
    if (done == JbigEncodeResult::kOutOfMemory) return false;
    if (done == JbigEncodeResult::kDone) return !out.outOfMemory;
  }

  std::vector<unsigned char*> bitmaps;
  try {
    bitmaps.resize(static_cast<size_t>(planes));
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The encoder takes non-const plane pointers but only reads the planes
  // when no resolution reduction is asked for (jbg_enc_layers(0)) and every
  // line is whole bytes, so the caller's image is handed over as it is.
  for (auto& p : bitmaps) p = const_cast<unsigned char*>(image);

  struct jbg_enc_state state;
  jbg_enc_init(&state, xd, yd, planes, bitmaps.data(), jbig_data_out, &out);
  jbg_enc_layers(&state, 0);
  jbg_enc_lrange(&state, dl, -1);
  jbg_enc_options(&state, order, options, l0, mx, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);
  return !out.outOfMemory;
}

void GetBandHeader(const PrntJbigParam& bandParam, uint32_t compLen, uint32_t firstLine,
                   uint8_t* buf) {
  memset(buf, 0, kBandHeaderLen);
  buf[0] = kRecordMarker;
  buf[1] = static_cast<uint8_t>(kBandHeaderLen);
  buf[2] = 0x1A;
  buf[5] = static_cast<uint8_t>(bandParam.planes);
  PutLE32(buf + 7, static_cast<uint32_t>(bandParam.xd));
  PutLE32(buf + 11, static_cast<uint32_t>(bandParam.l0));
  PutLE32(buf + 15, static_cast<uint32_t>(bandParam.yd));
  buf[19] = bandParam.mx;
  buf[20] = bandParam.my;
  buf[21] = bandParam.order;
  buf[22] = bandParam.options;
  PutLE32(buf + 23, compLen);
  PutLE32(buf + 27, compLen);
  PutLE32(buf + 35, firstLine);
  PutLE32(buf + 39, 3);
  buf[47] = CalcChecksum(buf, 47);
}

namespace {

// The page encoded while it was screened, when it is this image with these
// parameters; null otherwise (the pipeline, if any, is ended).
std::unique_ptr<PagePipeline> TakePagePipeline(StreamPage& page, const uint8_t* image,
                                               const PrntJbigParam& want) {
  std::unique_ptr<PagePipeline> started = std::move(page.encoder->page);
  if (!started) return nullptr;
  started->Finish();
  const PrntJbigParam& q = started->param;
  const bool same = started->image == image && q.xd == want.xd && q.yd == want.yd &&
                    q.l0 == want.l0 && q.mx == want.mx && q.order == want.order &&
                    q.options == want.options && q.dl == want.dl;
  return same ? std::move(started) : nullptr;
}

}  // namespace

bool OutputJbigkitCompression(CommandStream& job, StreamPage& page, const PrntBandInfo* band,
                              const PrntJbigParam* jbigParam, std::vector<uint8_t>& outBuf,
                              int platform) {
  try {
    std::vector<uint8_t> padded;
    const uint8_t* image = ImageForEncoder(band, padded);
    const size_t lineBytes = (static_cast<size_t>(band->width) + 7) / 8;
    if (platform == PLATFORM_Z)
      return CompressBandedPage(job, page, *jbigParam, image, lineBytes, outBuf);

    const size_t start = outBuf.size();
    if (std::unique_ptr<PagePipeline> done = TakePagePipeline(page, image, *jbigParam)) {
      if (!done->ok) return false;
      outBuf.insert(outBuf.end(), done->data.begin(), done->data.end());
    } else {
      JbigOutput out;
      out.data = &outBuf;
      if (!JBIGCompress(out, JbigParamWord0(*jbigParam), static_cast<uint32_t>(jbigParam->xd),
                        static_cast<uint32_t>(jbigParam->yd), static_cast<uint32_t>(jbigParam->l0),
                        JbigParamWord4(*jbigParam), image))
        return false;
    }
    page.checksum = PassChecksum(outBuf.data() + start, outBuf.size() - start);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

unsigned StreamThreadCount(unsigned requested, size_t jobs) {
  unsigned count = std::thread::hardware_concurrency();
  if (count == 0) count = 1;
  if (requested > 0) {
    count = std::min(requested, 256u);
  } else if (const char* env = getenv("LUMORA_THREADS")) {
    char* end = nullptr;
    long wanted = strtol(env, &end, 10);
    if (end != env && *end == '\0' && wanted >= 1) {
      count = static_cast<unsigned>(std::min<long>(wanted, 256));
    }
  }
  if (jobs < count) count = static_cast<unsigned>(std::max<size_t>(jobs, 1));
  return count;
}

}  // namespace lumora
