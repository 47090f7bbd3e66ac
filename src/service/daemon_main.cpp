#include "service/daemon_main.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "model/port_loader.h"
#include "service/control_loop.h"
#include "service/session.h"

namespace {

void open_missing_std_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    // open() takes the lowest free descriptor, which is this one.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace

int daemon_main(uint16_t listen_port) {
  open_missing_std_descriptors();
  signal(SIGPIPE, SIG_IGN);
  // Diagnostics leave line by line even when standard output is a pipe or a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  PortTable* table = new (std::nothrow) PortTable{};
  if (!table) {
    std::puts("can not alloc buffer for com");
    return 1;
  }
  const int port_count = get_port_count();
  load_port_table(table, port_count);
  load_snmp_identity(process_snmp_identity());
  set_session_context(table, port_count, process_snmp_identity());

  control_session_loop(table, listen_port);

  delete table;
  std::puts("finish");
  return 0;
}
