// SPDX-License-Identifier: GPL-2.0-or-later
#include "rendered_pages.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "page_renderer.h"

extern char** environ;

namespace lumora::app {

namespace {

bool Has(const std::vector<std::string>& args, const char* prefix) {
  return std::any_of(args.begin(), args.end(),
                     [prefix](const std::string& a) { return a.rfind(prefix, 0) == 0; });
}

// A child with its standard input and output on one end of a socket pair
// and `memory` as descriptor kRenderMemoryFd; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, int memory, int* socket) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, memory, kRenderMemoryFd);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  *socket = fds[0];
  return pid;
}

// The bytes of a slot: a page of the paper at the resolution, with a
// pixel to spare each way and rows as long as ghostscript may align them.
size_t SlotBytes(const cups_page_header2_t& page) {
  const size_t dpi = page.HWResolution[0];
  const size_t width = (page.PageSize[0] * dpi + 71) / 72 + 2;
  const size_t rows = (page.PageSize[1] * dpi + 71) / 72 + 2;
  const size_t raster = (width + 63) / 64 * 64;
  return (raster * rows + 4095) / 4096 * 4096;
}

// Waits until the socket has something to say; false once `stopped` says
// the job wants no more.
bool WaitReadable(int socket, const std::function<bool()>& stopped) {
  for (;;) {
    pollfd p{socket, POLLIN, 0};
    const int n = poll(&p, 1, stopped ? 200 : -1);
    if (n > 0 || (n < 0 && errno != EINTR)) return true;  // recv tells what came
    if (stopped && stopped()) return false;
  }
}

}  // namespace

// One line the renderer says ("page ...\n"): 1, 0 at the end of its output
// or once the job is stopped, -1 for a line too long to be one or cut off.
int RenderedPages::ReadLine(Renderer& r, std::string* line) {
  size_t end;
  while ((end = r.inbox.find('\n')) == std::string::npos) {
    if (r.inbox.size() > 80) return -1;
    if (!WaitReadable(r.socket, stopped_)) return 0;
    char buffer[256];
    const ssize_t n = recv(r.socket, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return r.inbox.empty() ? 0 : -1;
    r.inbox.append(buffer, static_cast<size_t>(n));
  }
  line->assign(r.inbox, 0, end);
  r.inbox.erase(0, end + 1);
  return line->size() <= 80 ? 1 : -1;
}

std::vector<std::vector<std::string>> RendererArgs(const std::vector<std::string>& args,
                                                   unsigned renderers) {
  // PageList ranges can add a blank page past a document's end: page
  // ranges keep -dFirstPage and -dLastPage on one renderer.
  if (renderers < 2 || args.size() < 2 || Has(args, "-dFirstPage=") || Has(args, "-dLastPage=")) {
    return {args};
  }
  std::vector<std::vector<std::string>> out;
  for (const char* list : {"-sPageList=odd", "-sPageList=even"}) {
    std::vector<std::string> a = args;
    a.insert(a.end() - 2, list);
    out.push_back(a);
  }
  return out;
}

unsigned RendererCount() {
  if (const char* v = getenv("LUMORA_APP_RENDERERS")) {
    const long n = strtol(v, nullptr, 10);
    if (n >= 1) return n >= 2 ? 2 : 1;
  }
  // A page takes about twice as long to encode as to draw, and the job
  // encodes a page on each core: a renderer for every two cores keeps the
  // encoder fed. (On two cores, a second one only adds its start.)
  return sysconf(_SC_NPROCESSORS_ONLN) >= 4 ? 2 : 1;
}

cups_page_header2_t GrayPageHeader(int dpi, int width, int height) {
  cups_page_header2_t h{};
  strncpy(h.MediaClass, "PwgRaster", sizeof(h.MediaClass) - 1);
  h.HWResolution[0] = h.HWResolution[1] = static_cast<unsigned>(dpi);
  h.PageSize[0] = static_cast<unsigned>(width);
  h.PageSize[1] = static_cast<unsigned>(height);
  h.NumCopies = 1;
  h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
  h.cupsColorSpace = CUPS_CSPACE_SW;
  h.cupsNumColors = 1;
  h.cupsInteger[7] = 0xFFFFFF;  // PWG's AlternatePrimary: white
  return h;
}

bool RenderedPages::Launch(Renderer& r, const std::vector<std::string>& args) {
  r.slotBytes = SlotBytes(page_);
  r.memoryBytes = r.slotBytes * kRenderSlots;
  const int memory = memfd_create("lumora-pages", MFD_CLOEXEC);
  if (memory < 0) return false;
  if (ftruncate(memory, static_cast<off_t>(r.memoryBytes)) == 0) {
    r.pid = Spawn(args, memory, &r.socket);
  }
  // Mapped whole while the renderer starts: one fault a page, taken as
  // the rows are read, cost more.
  void* p = MAP_FAILED;
  if (r.pid > 0) p = mmap(nullptr, r.memoryBytes, PROT_READ, MAP_SHARED | MAP_POPULATE, memory, 0);
  close(memory);
  if (p == MAP_FAILED) return false;  // (a renderer started is stopped)
  r.memory = static_cast<uint8_t*>(p);
  return true;
}

bool RenderedPages::Start(const std::vector<std::vector<std::string>>& renderers,
                          const cups_page_header2_t& page) {
  page_ = page;
  for (const auto& args : renderers) {
    renderers_.push_back(std::make_unique<Renderer>());
    if (!Launch(*renderers_.back(), args)) {
      Finish(true);
      return false;
    }
  }
  return !renderers_.empty();
}

// What the renderer says next: 1 a page begun (its slot, size and row
// length), 2 rows drawn (*rows), 0 the end of its output, -1 what is
// neither.
int RenderedPages::Hear(Renderer& r, unsigned* values) {
  std::string line;
  const int got = ReadLine(r, &line);
  if (got <= 0) return got;
  int end = 0;
  if (sscanf(line.c_str(), "rows %u%n", &values[0], &end) == 1 &&
      static_cast<size_t>(end) == line.size()) {
    return 2;
  }
  if (sscanf(line.c_str(), "page %u %u %u %u%n", &values[0], &values[1], &values[2], &values[3],
             &end) == 4 &&
      static_cast<size_t>(end) == line.size()) {
    return 1;
  }
  return -1;
}

// The renderer's next page: 1 (its size in pixels), 0 at the end of its
// output, -1 when what it says is not a page that fits its slot. Rows
// drawn of a page the job left are passed over.
int RenderedPages::ReadPage(Renderer& r, unsigned* width, unsigned* height) {
  unsigned v[4] = {0, 0, 0, 0};
  int said;
  while ((said = Hear(r, v)) == 2) {
  }
  if (said <= 0) return said;
  const unsigned slot = v[0], w = v[1], h = v[2], raster = v[3];
  if (slot >= kRenderSlots || w == 0 || h == 0 || raster < w ||
      uint64_t{raster} * h > r.slotBytes) {
    return -1;
  }
  ++r.given;
  r.page = r.memory + slot * r.slotBytes;
  r.rows = h;
  r.raster = raster;
  r.row = r.ready = 0;
  *width = w;
  *height = h;
  return 1;
}

// The job is done with the renderer's oldest slot.
void RenderedPages::GiveBack(Renderer& r) {
  if (r.given == 0) return;
  --r.given;
  r.page = nullptr;
  const char done = 'd';
  while (send(r.socket, &done, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

unsigned RenderedPages::ReadHeader2(cups_page_header2_t* header) {
  if (current_) GiveBack(*current_);
  current_ = nullptr;
  if (done_ || renderers_.empty()) return 0;
  Renderer& r = *renderers_[next_ % renderers_.size()];
  // Pages come from the renderers in turn: the first without one is past
  // the end of the document. (A renderer with no page says nothing.)
  unsigned width = 0, height = 0;
  const int got = ReadPage(r, &width, &height);
  if (got <= 0) {
    r.bad = got < 0;
    done_ = true;
    return 0;
  }
  *header = page_;
  header->cupsWidth = header->cupsBytesPerLine = width;
  header->cupsHeight = height;
  ++next_;
  current_ = &r;
  return 1;
}

const uint8_t* RenderedPages::NextRow() {
  Renderer* r = current_;
  if (!r || !r->page || r->row >= r->rows) return nullptr;
  // The row once the renderer has drawn it.
  while (r->row >= r->ready) {
    unsigned v[4] = {0, 0, 0, 0};
    const int said = Hear(*r, v);
    if (said != 2 || v[0] <= r->ready || v[0] > r->rows) {
      r->bad = said != 0;
      r->page = nullptr;
      return nullptr;
    }
    r->ready = v[0];
  }
  return r->page + size_t{r->row++} * r->raster;
}

int RenderedPages::Stop(Renderer& r, bool kill) {
  if (r.pid > 0 && kill) ::kill(r.pid, SIGTERM);
  if (!kill && r.socket >= 0) {
    // A renderer waited for is read to its end: each page it still says is
    // one the job lost.
    GiveBack(r);
    unsigned v[4];
    int said;
    while (!r.bad && (said = Hear(r, v)) != 0) {
      if (said < 0) r.bad = true;
      if (said != 1) continue;
      ++r.unread;
      ++r.given;
      GiveBack(r);
    }
  }
  if (r.socket >= 0) close(r.socket);
  r.socket = -1;
  if (r.memory) munmap(r.memory, r.memoryBytes);
  r.memory = nullptr;
  int status = 0;
  if (r.pid > 0) {
    while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  r.pid = -1;
  if (r.unread > 0 || r.bad) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RenderedPages::Finish(bool kill) {
  int worst = 0;
  for (auto& r : renderers_) {
    const int status = Stop(*r, kill);
    if (status != 0 && worst == 0) worst = status;
  }
  renderers_.clear();
  current_ = nullptr;
  return worst;
}

}  // namespace lumora::app
