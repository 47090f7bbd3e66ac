#include "forward/forward_loop.h"

#include <sys/inotify.h>
#include <sys/timerfd.h>
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
  int timer = -1;        // wakes the poll at the turn's deadline; -1: poll's timeout does
  int64_t timer_at = -1;  // when it is armed to fire; -1: not armed
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

// poll's own timeout arms and cancels a kernel timer on every call, and while data flows the
// loop turns thousands of times a second. A timer that stays armed across turns costs that
// only when the deadline comes earlier than the one it holds (about once per queue look).
// The milliseconds poll is to wait itself: -1 while the timer wakes it.
int poll_wait_ms(Loop* loop, PollSet* set, int64_t now) {
  const int64_t at = set->wake_at_ms;
  if (at >= 0 && at <= now) return 0;
  if (loop->timer >= 0) {
    if (at >= 0 && (loop->timer_at < 0 || at < loop->timer_at)) {
      itimerspec when{};
      when.it_value.tv_sec = static_cast<time_t>(at / 1000);
      when.it_value.tv_nsec = static_cast<long>(at % 1000) * 1000000;
      if (timerfd_settime(loop->timer, TFD_TIMER_ABSTIME, &when, nullptr) == 0)
        loop->timer_at = at;
    }
    if (loop->timer_at >= 0 && (at < 0 || loop->timer_at <= at) &&
        set->add(loop->timer, POLLIN, {PollRole::kWakeTimer, 0, 0}))
      return -1;
  }
  return at < 0 ? -1 : static_cast<int>(at - now);
}

void read_timer(Loop* loop) {
  uint64_t expirations;
  if (::read(loop->timer, &expirations, sizeof expirations) > 0) loop->timer_at = -1;
}

void turn(Loop* loop) {
  PollSet set;
  set.add(loop->watch, POLLIN, {PollRole::kIniWatch, 0, 0});
  for (ForwardPort& p : loop->ports) port_add_polls(&p, &set);
  set.wake_by(loop->queue_looked_at + kQueueLookMs);
  if (loop->reload_at >= 0) set.wake_by(loop->reload_at);
  const int wait = poll_wait_ms(loop, &set, now_ms());
  const int ready = ::poll(set.fds, static_cast<nfds_t>(set.count), wait);
  if (ready > 0) {
    for (int i = 0; i < set.count; ++i) {
      if (set.fds[i].revents == 0) continue;
      const PollTag& tag = set.tags[i];
      if (tag.role == PollRole::kIniWatch)
        read_watch(loop);
      else if (tag.role == PollRole::kWakeTimer)
        read_timer(loop);
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
  loop->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  forward_log(LOG_INFO, "started: COM1 %s, COM2 %s, queue %d", options.serial_paths[0],
              options.serial_paths[1], options.queue_key);
  reload(loop.get());
  while (!*options.stop) turn(loop.get());
  for (ForwardPort& p : loop->ports) port_close(&p);
  if (loop->watch >= 0) ::close(loop->watch);
  if (loop->timer >= 0) ::close(loop->timer);
  forward_log(LOG_INFO, "stopped");
  return 0;
}
