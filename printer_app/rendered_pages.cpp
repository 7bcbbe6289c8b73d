// SPDX-License-Identifier: GPL-2.0-or-later
#include "rendered_pages.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace lumora::app {

namespace {

bool Has(const std::vector<std::string>& args, const char* prefix) {
  return std::any_of(args.begin(), args.end(),
                     [prefix](const std::string& a) { return a.rfind(prefix, 0) == 0; });
}

// A child with its standard output on a pipe; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, int* out) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
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
  *out = fds[0];
  return pid;
}

}  // namespace

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
  return sysconf(_SC_NPROCESSORS_ONLN) >= 2 ? 2 : 1;
}

bool RenderedPages::Start(const std::vector<std::vector<std::string>>& renderers) {
  for (const auto& args : renderers) {
    auto r = std::make_unique<Renderer>();
    r->pid = Spawn(args, &r->out);
    if (r->pid < 0) {
      Finish(true);
      return false;
    }
    r->drain = std::thread(Drain, r.get());
    renderers_.push_back(std::move(r));
  }
  return !renderers_.empty();
}

// Moves the renderer's output into its buffer, holding at most kAheadBytes.
void RenderedPages::Drain(Renderer* r) {
  std::vector<uint8_t> buffer(size_t{1} << 18);
  for (;;) {
    const ssize_t n = read(r->out, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    std::unique_lock<std::mutex> lock(r->mutex);
    if (n <= 0 || r->stop) {
      r->ended = true;
      r->changed.notify_all();
      return;
    }
    if (r->rest) {
      r->unread += static_cast<size_t>(n);
      continue;
    }
    std::vector<uint8_t> chunk(buffer.data(), buffer.data() + n);
    r->held += chunk.size();
    r->chunks.push_back(std::move(chunk));
    r->changed.notify_all();
    r->changed.wait(lock, [r] { return r->held < kAheadBytes || r->stop || r->rest; });
  }
}

// RasterReader's read function over a renderer's buffer.
ssize_t RenderedPages::Read(void* context, void* buffer, size_t n) {
  Renderer* r = static_cast<Renderer*>(context);
  std::unique_lock<std::mutex> lock(r->mutex);
  r->changed.wait(lock, [r] { return !r->chunks.empty() || r->ended; });
  if (r->chunks.empty()) return 0;
  const std::vector<uint8_t>& chunk = r->chunks.front();
  const size_t take = std::min(n, chunk.size() - r->front);
  memcpy(buffer, chunk.data() + r->front, take);
  r->front += take;
  r->held -= take;
  if (r->front == chunk.size()) {
    r->chunks.pop_front();
    r->front = 0;
  }
  r->changed.notify_all();
  return static_cast<ssize_t>(take);
}

unsigned RenderedPages::ReadHeader2(cups_page_header2_t* header) {
  current_ = nullptr;
  if (done_ || renderers_.empty()) return 0;
  Renderer& r = *renderers_[next_ % renderers_.size()];
  if (!r.opened) {
    r.opened = true;
    r.reader = std::make_unique<lumora::RasterReader>(Read, &r);
    // A renderer with no page of the document writes nothing at all.
    if (!r.reader->IsOpen()) r.reader.reset();
  }
  // Pages come from the renderers in turn: the first without one is past
  // the end of the document.
  if (!r.reader || r.reader->ReadHeader2(header) == 0) {
    done_ = true;
    return 0;
  }
  ++next_;
  current_ = r.reader.get();
  return 1;
}

unsigned RenderedPages::ReadPixels(unsigned char* p, unsigned len) {
  return current_ ? current_->ReadPixels(p, len) : 0;
}

int RenderedPages::Stop(Renderer& r, bool kill) {
  if (r.pid > 0 && kill) ::kill(r.pid, SIGTERM);
  size_t unread = 0;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    // A renderer killed may block on a full pipe: it ends once the drain
    // thread has gone and the pipe is closed. One waited for is read to its
    // end, so that its status is its own and not that of a closed pipe.
    if (kill) {
      r.stop = true;
    } else {
      r.rest = true;
      r.unread += r.held;
    }
    r.changed.notify_all();
  }
  if (r.drain.joinable()) r.drain.join();
  if (!kill) {
    std::lock_guard<std::mutex> lock(r.mutex);
    unread = r.unread;
  }
  if (r.out >= 0) close(r.out);
  r.out = -1;
  int status = 0;
  if (r.pid > 0) {
    while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  r.pid = -1;
  if (unread > 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RenderedPages::Finish(bool kill) {
  int worst = 0;
  for (auto& r : renderers_) {
    if (r->pid <= 0 && !r->drain.joinable()) continue;
    const int status = Stop(*r, kill);
    if (status != 0 && worst == 0) worst = status;
  }
  renderers_.clear();
  current_ = nullptr;
  return worst;
}

}  // namespace lumora::app
