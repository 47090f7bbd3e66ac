#include "forward/forward_loop.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "forward/forward_log.h"
#include "forward/forward_port.h"
#include "forward/notice_queue.h"
#include "forward/poll_set.h"
#include "platform/root.h"
#include "storage/inifile.h"
#include "storage/station_ini.h"

namespace {

// The daemon's notice queue cannot be polled: it is looked at this often, idle or not. It
// holds only 63 notices of 260 bytes under the kernel's default limit (16 KiB), and one
// buffer of commands can bring more than that, each write blocking the daemon while it is full.
constexpr int kQueueLookMs = 20;
// After a change of the file, the reload waits this long for the rest of a burst of rewrites
// (a buffer of commands rewrites the file once per key).
constexpr int kSettleMs = 100;
// A missing or unreadable file is looked at again this often.
constexpr int kMissingRetryMs = 1000;

struct Loop {
  ForwardPort ports[2];
  int queue = -1;
  int queue_key = 0;
  int watch = -1;
  std::string ini_path;
  std::string ini_name;  // the file's name in its folder, which is what is watched
  std::unique_ptr<char[]> text;
  int64_t reload_at = 0;  // -1: none pending
  int64_t queue_looked_at = 0;
  bool said_unreadable = false;
};

void start_watch(Loop* loop) {
  loop->watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const std::size_t slash = loop->ini_path.rfind('/');
  const std::string folder = loop->ini_path.substr(0, slash);
  loop->ini_name = loop->ini_path.substr(slash + 1);
  // The folder, not the file: a file replaced by a new one (a rename) is seen as well.
  if (loop->watch < 0 ||
      inotify_add_watch(loop->watch, folder.c_str(),
                        IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0)
    forward_log(LOG_WARNING, "cannot watch %s (%s): changes are seen on notices only",
                folder.c_str(), std::strerror(errno));
}

void schedule_reload(Loop* loop, int64_t at) {
  if (loop->reload_at < 0 || at < loop->reload_at) loop->reload_at = at;
}

// Only events of station.ini count; others in its folder are read and forgotten.
void read_watch(Loop* loop) {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(loop->watch, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const inotify_event* e = reinterpret_cast<const inotify_event*>(buffer + at);
      if (e->len > 0 && loop->ini_name == e->name) schedule_reload(loop, now_ms() + kSettleMs);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
}

void look_at_queue(Loop* loop) {
  unsigned ports = 0;
  if (drain_notices(loop->queue, &ports) < 0) {
    // Someone removed the queue: make it again, or the daemon's notices go nowhere.
    bool created;
    loop->queue = open_notice_queue(loop->queue_key, &created);
    if (loop->queue < 0) forward_log(LOG_ERR, "message queue %d: %s", loop->queue_key,
                                     std::strerror(errno));
  }
  // The notice comes after the daemon wrote the file: nothing more to wait for.
  if (ports != 0) schedule_reload(loop, now_ms());
}

void reload(Loop* loop) {
  loop->reload_at = -1;
  int length = 0;
  const int loaded = load_ini_file(loop->ini_path.c_str(), loop->text.get(), &length);
  PortSettings settings[kForwardPorts];
  if (loaded != kIniLoaded) {
    if (!loop->said_unreadable)
      forward_log(LOG_ERR, "%s cannot be read: the ports wait for it", loop->ini_path.c_str());
    loop->said_unreadable = true;
    loop->reload_at = now_ms() + kMissingRetryMs;
    return;
  }
  loop->said_unreadable = false;
  if (read_port_settings(loop->text.get(), settings) == 0) {
    // Caught in the middle of a rewrite: the old settings stay until the file is whole.
    loop->reload_at = now_ms() + kSettleMs;
    return;
  }
  for (int i = 0; i < kForwardPorts; ++i) port_apply(&loop->ports[i], settings[i]);
}

void turn(Loop* loop) {
  PollSet set;
  set.add(loop->watch, POLLIN, {PollRole::kIniWatch, 0, 0});
  for (ForwardPort& p : loop->ports) port_add_polls(&p, &set);
  const int64_t now = now_ms();
  set.wake_by(loop->queue_looked_at + kQueueLookMs);
  if (loop->reload_at >= 0) set.wake_by(loop->reload_at);
  const int64_t wait = set.wake_at_ms > now ? set.wake_at_ms - now : 0;
  const int ready = ::poll(set.fds, static_cast<nfds_t>(set.count), static_cast<int>(wait));
  if (ready > 0) {
    for (int i = 0; i < set.count; ++i) {
      if (set.fds[i].revents == 0) continue;
      const PollTag& tag = set.tags[i];
      if (tag.role == PollRole::kIniWatch)
        read_watch(loop);
      else
        port_handle(&loop->ports[tag.port], set.fds[i], tag);
    }
  }
  const int64_t after = now_ms();
  // Not on every turn: while data flows, turns come far more often than notices.
  if (after - loop->queue_looked_at >= kQueueLookMs) {
    look_at_queue(loop);
    loop->queue_looked_at = after;
  }
  if (loop->reload_at >= 0 && after >= loop->reload_at) reload(loop);
  for (ForwardPort& p : loop->ports) port_tick(&p, after);
}

}  // namespace

int run_forward_loop(const ForwardOptions& options) {
  std::unique_ptr<Loop> loop(new (std::nothrow) Loop);
  if (!loop) return 1;
  loop->text.reset(new (std::nothrow) char[kIniBufferSize]);
  if (!loop->text) return 1;
  for (int i = 0; i < 2; ++i)
    if (port_init(&loop->ports[i], i + 1, options.serial_paths[i]) != 0) return 1;
  loop->queue_key = options.queue_key;
  bool created;
  loop->queue = open_notice_queue(options.queue_key, &created);
  if (loop->queue < 0) {
    forward_log(LOG_ERR, "message queue %d: %s", options.queue_key, std::strerror(errno));
    return 1;
  }
  loop->ini_path = rooted(kStationIniPath).c_str();
  start_watch(loop.get());
  forward_log(LOG_INFO, "started: COM1 %s, COM2 %s, queue %d", options.serial_paths[0],
              options.serial_paths[1], options.queue_key);
  reload(loop.get());
  while (!*options.stop) turn(loop.get());
  for (ForwardPort& p : loop->ports) port_close(&p);
  if (loop->watch >= 0) ::close(loop->watch);
  forward_log(LOG_INFO, "stopped");
  return 0;
}
