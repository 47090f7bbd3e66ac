#include "forward/notice_queue.h"

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "forward/forward_log.h"
#include "platform/root.h"
#include "protocol/change_notice.h"

int open_notice_queue(int key, bool* created) {
  *created = false;
  const int id = ::msgget(key, IPC_CREAT | IPC_EXCL | 0600);
  if (id >= 0) {
    *created = true;
    return id;
  }
  if (errno != EEXIST) return -1;
  return ::msgget(key, 0600);
}

void record_notice(const char* text, unsigned long length) {
  if (!has_root()) return;
  char line[kChangeNoticeTextSize + 1];
  if (length > kChangeNoticeTextSize) length = kChangeNoticeTextSize;
  std::memcpy(line, text, length);
  line[length] = '\n';
  // One write per line with O_APPEND, so a reader never sees half a line; the file is opened
  // per notice, so it may be moved or removed while the simulator runs.
  const RootedPath log = rooted("/var/log/forwarder.log");
  const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    forward_log(LOG_ERR, "%s: %s", log.c_str(), std::strerror(errno));
    return;
  }
  if (::write(fd, line, length + 1) < 0)
    forward_log(LOG_ERR, "%s: %s", log.c_str(), std::strerror(errno));
  ::close(fd);
}

int drain_notices(int queue_id, unsigned* ports) {
  ChangeNotice message;
  int taken = 0;
  for (;;) {
    const ssize_t n =
        ::msgrcv(queue_id, &message, sizeof message.text, 0, IPC_NOWAIT | MSG_NOERROR);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOMSG) return taken;
      return -1;  // EIDRM, EINVAL: the queue is gone
    }
    ++taken;
    const std::size_t length = ::strnlen(message.text, static_cast<std::size_t>(n));
    record_notice(message.text, length);
    char digits[8] = "";
    std::memcpy(digits, message.text, length < sizeof digits - 1 ? length : sizeof digits - 1);
    const int port = std::atoi(digits);
    if (port >= 1 && port <= 2) *ports |= 1u << (port - 1);
  }
}
