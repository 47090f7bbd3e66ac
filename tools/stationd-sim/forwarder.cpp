#include "forwarder.h"

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/root.h"
#include "protocol/change_notice.h"

namespace {

// One write per line with O_APPEND, so a reader never sees half a line; the file is opened
// per notice, so it may be moved or removed while the simulator runs.
void append_line(const char* text, std::size_t length) {
  char line[kChangeNoticeTextSize + 1];
  std::memcpy(line, text, length);
  line[length] = '\n';
  const RootedPath log = rooted("/var/log/forwarder.log");
  const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "stationd-sim: %s: %s\n", log.c_str(), std::strerror(errno));
    return;
  }
  if (::write(fd, line, length + 1) < 0)
    std::fprintf(stderr, "stationd-sim: %s: %s\n", log.c_str(), std::strerror(errno));
  ::close(fd);
}

}  // namespace

int open_forwarder_queue(bool* created) {
  *created = false;
  const int id = ::msgget(kChangeNoticeKey, IPC_CREAT | IPC_EXCL | 0600);
  if (id >= 0) {
    *created = true;
    return id;
  }
  if (errno != EEXIST) return -1;
  return ::msgget(kChangeNoticeKey, 0600);
}

void run_forwarder(int queue_id) {
  ChangeNotice message;
  for (;;) {
    const ssize_t n = ::msgrcv(queue_id, &message, sizeof message.text, 0, MSG_NOERROR);
    if (n < 0) {
      if (errno == EINTR) continue;
      // The queue was removed (by whoever owns it): nothing more will come.
      if (errno == EIDRM || errno == EINVAL) ::_exit(0);
      std::fprintf(stderr, "stationd-sim: forwarder: %s\n", std::strerror(errno));
      ::_exit(1);
    }
    append_line(message.text, ::strnlen(message.text, static_cast<std::size_t>(n)));
  }
}
