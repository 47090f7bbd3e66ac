#include "forwarder.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "forward/notice_queue.h"
#include "protocol/change_notice.h"

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
    record_notice(message.text, ::strnlen(message.text, static_cast<std::size_t>(n)));
  }
}
