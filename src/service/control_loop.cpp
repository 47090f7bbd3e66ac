#include "service/control_loop.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "protocol/dispatcher.h"
#include "service/session.h"
#include "service/tcp_socket.h"

namespace {

struct Connection {
  int client = -1;
  int logged_in = 0;
  int active = 0;
};

void drop_client(Connection* c) {
  close(c->client);
  c->client = -1;
  c->logged_in = 0;
  c->active = 0;
}

}  // namespace

void control_session_loop(PortTable* table, uint16_t listen_port) {
  // One byte more than a receive can fill: the zero after the received bytes ends any text
  // that a handler reads out of the last frame.
  unsigned char* received = static_cast<unsigned char*>(std::malloc(kReceiveBufferSize + 1));
  if (!received) {
    std::puts("can not alloc buffer for control setting");
    return;
  }
  unsigned char* answer = static_cast<unsigned char*>(std::malloc(kAnswerBufferSize));
  if (!answer) {
    std::puts("can not alloc buffer for answer control setting");
    std::free(received);
    return;
  }

  const int port_count = get_port_count();
  int listener = -1;
  Connection c;
  int32_t remembered_port = 1;

  for (;;) {
    if (listener < 0) {
      listener = tcp_server_make_skt(kNoInterface, listen_port, kControlBacklog);
      continue;
    }
    if (c.client < 0) {
      const int fd = tcp_server_accept(listener, nullptr, nullptr, 0);
      if (fd < 0) continue;
      c.client = fd;
      chk_send(c.client, kGreeting, kGreetingSize);
      c.active = 0;
      continue;
    }

    const int n = chk_recv(c.client, received, kReceiveBufferSize);
    if (n <= 0) {
      drop_client(&c);
      continue;
    }
    received[n] = 0;
    if (c.active == 0 && n >= 2 && received[0] == kIac && received[1] == kSb) c.active = 1;
    const int eth_index = socket_eth_index(c.client);
    if (c.active == 0) continue;

    set_session_context(table, port_count, process_snmp_identity());
    set_current_port(remembered_port);
    int answer_length = 0;
    dispatch_commands(received, n, eth_index, &c.logged_in, answer, kAnswerBufferSize,
                      &answer_length);
    remembered_port = act_g();
    if (answer_length > 0 && chk_send(c.client, answer, answer_length) < 0) drop_client(&c);
  }
}
