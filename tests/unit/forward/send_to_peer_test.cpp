// Serial data for a connection whose socket takes only part of it: the rest waits in the
// connection's queue and leaves after what went first, nothing lost or doubled.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "forward/net_side_parts.h"

namespace {

TEST(SendToPeer, WhatTheSocketRefusesWaitsInOrder) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  const int small = 4096;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::string data(kPeerQueueSize, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i + i / 251);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  ByteQueue out(kPeerQueueSize);
  ASSERT_TRUE(send_to_peer(fds[0], &out, false, bytes, data.size()));
  ASSERT_FALSE(out.empty());  // the socket took only part
  std::string got;
  char buffer[4096];
  for (ssize_t n = 1; n > 0;) {  // until the queue is empty and all was read
    ASSERT_TRUE(flush_queue(fds[0], &out));
    n = recv(fds[1], buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_TRUE(got == data && out.empty());
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
