#include "client/control_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "protocol/frame_codec.h"

namespace {

constexpr std::size_t kGreetingBytes = 2;  // two spaces, sent by the daemon to every new client

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reply codes whose data length the protocol fixes; -1 where it depends on the data.
int fixed_reply_length(int code) {
  switch (code) {
    case 101:
      return 4;
    case 100:  // login: "S" or "F"
    case 102:
    case 103:
    case 104:
    case 105:
    case 178:
    case 179:
    case 180:
    case 185:
    case 190:
    case 191:
    case 194:
    case 199:
      return 1;
    case 176:
    case 177:
      return 10;
    case 188:
      return 5;
    case 193:
      return 2;
    case 195:
      return 0;
    case 197:
    case 198:
      return 3;
    default:
      return -1;
  }
}

bool is_tail(const unsigned char* p) { return p[0] == kIac && p[1] == kSe; }

// The data length of the reply starting with its code at bytes[0] (count bytes available):
// >= 0 when known, -1 when the code leaves it open, -2 when more bytes are needed to tell.
int reply_length(const unsigned char* bytes, int count) {
  const int code = bytes[0];
  const unsigned char* data = bytes + 1;
  const int have = count - 1;
  if (code == 192) {  // link mode: the mode byte says which layout follows
    if (have < 2) return -2;
    if (is_tail(data)) return 0;  // the reply to a mode-4 set carries nothing
    static const int kLayout[] = {-1, 13, 15, 91};
    return data[0] >= 1 && data[0] <= 3 ? kLayout[data[0]] : -1;
  }
  if (code == 189) {  // tag, text, NUL; no data for the sub-commands without a text
    if (have < 2) return -2;
    if (is_tail(data)) return 0;
    for (int i = 1; i < have; ++i)
      if (data[i] == 0) return i + 1;
    return -2;
  }
  return fixed_reply_length(code);
}

ClientStatus wait_readable(ControlConnection* conn, int wait_ms) {
  pollfd p{conn->fd, POLLIN, 0};
  const int r = poll(&p, 1, wait_ms);
  if (r == 0) return ClientStatus::kTimedOut;
  if (r < 0) return errno == EINTR ? ClientStatus::kOk : ClientStatus::kIoError;
  return ClientStatus::kOk;
}

// Appends what the socket holds to pending; kClosed at end of file.
ClientStatus receive_some(ControlConnection* conn) {
  unsigned char buf[2048];
  const ssize_t n = recv(conn->fd, buf, sizeof buf, 0);
  if (n == 0) return ClientStatus::kClosed;
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ClientStatus::kOk;
    return errno == ECONNRESET ? ClientStatus::kClosed : ClientStatus::kIoError;
  }
  conn->pending.insert(conn->pending.end(), buf, buf + n);
  return ClientStatus::kOk;
}

bool take_pending(ControlConnection* conn, bool at_end, ReplyFrame* frame) {
  const int used = take_reply_frame(conn->pending.data(), static_cast<int>(conn->pending.size()),
                                    at_end, frame);
  if (used == 0) return false;
  conn->pending.erase(conn->pending.begin(), conn->pending.begin() + used);
  return true;
}

ClientStatus next_frame_until(ControlConnection* conn, Clock::time_point deadline,
                              ReplyFrame* frame) {
  for (;;) {
    if (take_pending(conn, false, frame)) return ClientStatus::kOk;
    ClientStatus s = wait_readable(conn, ms_left(deadline));
    if (s == ClientStatus::kOk) s = receive_some(conn);
    if (s == ClientStatus::kOk) continue;
    // Nothing more will come: what is left is read the way the daemon's scanner would.
    if (s != ClientStatus::kIoError && take_pending(conn, true, frame)) return ClientStatus::kOk;
    return s;
  }
}

}  // namespace

int take_reply_frame(const unsigned char* bytes, int count, bool at_end, ReplyFrame* frame) {
  int s = 0;
  while (s + 3 <= count && !(bytes[s] == kIac && bytes[s + 1] == kSb &&
                             bytes[s + 2] == kComPortOption))
    ++s;
  if (s + 4 > count) return 0;
  const int length = reply_length(bytes + s + 3, count - s - 3);
  if (length >= 0) {
    const int end = s + 4 + length;  // where the tail must begin
    if (end + 2 <= count && is_tail(bytes + end)) {
      frame->code = bytes[s + 3];
      frame->data.assign(bytes + s + 4, bytes + end);
      return end + 2;
    }
    if (end + 2 > count && !at_end) return 0;
  } else if (length == -2 && !at_end) {
    return 0;
  }
  // No fixed length, or the tail is not where it should be: cut at the first FF F0.
  int frame_length = 0;
  const unsigned char* data = nullptr;
  const int code = scan_frame(bytes + s, count - s, &frame_length, &data);
  if (code < 0) return 0;
  frame->code = code;
  if (data)
    frame->data.assign(data, bytes + s + frame_length - 2);
  else
    frame->data.clear();
  return s + frame_length;
}

ClientStatus client_connect(ControlConnection* conn, const std::string& host, uint16_t port,
                            int timeout_ms, std::string* why) {
  client_close(conn);
  conn->timeout_ms = timeout_ms;
  conn->address = host + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int gai = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (gai != 0 || !found) {
    *why = gai_strerror(gai);
    return ClientStatus::kConnectFailed;
  }
  sockaddr_in peer{};
  std::memcpy(&peer, found->ai_addr, sizeof peer);
  freeaddrinfo(found);
  peer.sin_port = htons(port);

  conn->fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (conn->fd < 0) {
    *why = std::strerror(errno);
    return ClientStatus::kConnectFailed;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int err = 0;
  if (connect(conn->fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      pollfd p{conn->fd, POLLOUT, 0};
      socklen_t len = sizeof err;
      if (poll(&p, 1, ms_left(deadline)) != 1)
        err = ETIMEDOUT;
      else if (getsockopt(conn->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    }
  }
  if (err != 0) {
    *why = std::strerror(err);
    client_close(conn);
    return ClientStatus::kConnectFailed;
  }
  // The daemon greets only the client it serves; another client may hold it.
  while (conn->pending.size() < kGreetingBytes) {
    ClientStatus s = wait_readable(conn, ms_left(deadline));
    if (s == ClientStatus::kOk) s = receive_some(conn);
    if (s != ClientStatus::kOk) {
      *why = s == ClientStatus::kTimedOut ? "no greeting (is another client connected?)"
                                          : "closed before its greeting";
      client_close(conn);
      return ClientStatus::kConnectFailed;
    }
  }
  conn->pending.erase(conn->pending.begin(), conn->pending.begin() + kGreetingBytes);
  return ClientStatus::kOk;
}

void client_close(ControlConnection* conn) {
  if (conn->fd >= 0) close(conn->fd);
  conn->fd = -1;
  conn->pending.clear();
}

ClientStatus encode_requests(const std::vector<Request>& requests,
                             std::vector<unsigned char>* out) {
  out->clear();
  for (const Request& r : requests) {
    for (std::size_t i = 0; i + 1 < r.data.size(); ++i)
      if (r.data[i] == kIac && r.data[i + 1] == kSe) return ClientStatus::kBadRequest;
    if (r.code < 0 || r.code > 255) return ClientStatus::kBadRequest;
    out->insert(out->end(), {kIac, kSb, kComPortOption, static_cast<unsigned char>(r.code)});
    out->insert(out->end(), r.data.begin(), r.data.end());
    out->insert(out->end(), {kIac, kSe});
  }
  return out->size() <= kMaxRequestBytes ? ClientStatus::kOk : ClientStatus::kBadRequest;
}

int expected_reply_frames(const Request& request) {
  const std::size_t d = request.data.size();
  switch (request.code) {
    case 97:
    case 98:
      return 0;
    case 96:
      return d == 0 ? 15 : 1;
    case 92:  // a mode byte of 8 or more in an accepted length gets no reply at all
      if (d == 1 || d == 9 || d == 12 || d == 14 || d == 27 || d == 91)
        return request.data[0] >= 8 ? 0 : 1;
      return 1;
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 76:
    case 77:
    case 78:
    case 79:
    case 85:
    case 88:
    case 89:
    case 90:
    case 91:
    case 93:
    case 94:
    case 99:
      return 1;
    default:
      return -1;
  }
}

ClientStatus client_send(ControlConnection* conn, const std::vector<unsigned char>& bytes) {
  std::size_t sent = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(conn->timeout_ms);
  while (sent < bytes.size()) {
    const ssize_t n = send(conn->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      return errno == EPIPE || errno == ECONNRESET ? ClientStatus::kClosed : ClientStatus::kIoError;
    pollfd p{conn->fd, POLLOUT, 0};
    if (poll(&p, 1, ms_left(deadline)) == 0) return ClientStatus::kTimedOut;
  }
  return ClientStatus::kOk;
}

ClientStatus client_next_frame(ControlConnection* conn, int wait_ms, ReplyFrame* frame) {
  return next_frame_until(conn, Clock::now() + std::chrono::milliseconds(wait_ms), frame);
}

ClientStatus client_exchange(ControlConnection* conn, const std::vector<Request>& requests,
                             std::vector<ReplyGroup>* groups) {
  groups->clear();
  std::vector<unsigned char> bytes;
  if (encode_requests(requests, &bytes) != ClientStatus::kOk) return ClientStatus::kBadRequest;
  for (const Request& r : requests)
    if (expected_reply_frames(r) < 0) return ClientStatus::kBadRequest;
  ClientStatus s = client_send(conn, bytes);
  if (s != ClientStatus::kOk) return s;
  const auto deadline = Clock::now() + std::chrono::milliseconds(conn->timeout_ms);
  for (const Request& r : requests) {
    groups->emplace_back();
    ReplyGroup& group = groups->back();
    const int wanted = expected_reply_frames(r);
    while (static_cast<int>(group.size()) < wanted) {
      ReplyFrame frame;
      s = next_frame_until(conn, deadline, &frame);
      if (s != ClientStatus::kOk) return s;
      group.push_back(std::move(frame));
      const int code = group.back().code;
      // An error reply stands for the whole answer (get-all before login, for instance).
      if ((group.size() == 1 && code == kErrorReplyCode) || code == kGetAllEndCode) break;
    }
  }
  return ClientStatus::kOk;
}

ClientStatus client_login(ControlConnection* conn, const std::string& user,
                          const std::string& password, bool* accepted) {
  const std::string text = user.empty() ? password : user + " " + password;
  std::vector<ReplyGroup> groups;
  *accepted = false;
  const ClientStatus s =
      client_exchange(conn, {Request{0, std::vector<unsigned char>(text.begin(), text.end())}},
                      &groups);
  if (s != ClientStatus::kOk) return s;
  const ReplyGroup& g = groups[0];
  *accepted = g.size() == 1 && g[0].code == 100 && g[0].data.size() == 1 && g[0].data[0] == 'S';
  return ClientStatus::kOk;
}

const char* command_name(int code) {
  if (code == kErrorReplyCode) return "error";
  if (code == kGetAllEndCode) return "get-all-end";
  if (code >= 100 && code < 200) code -= 100;
  switch (code) {
    case 0:
      return "login";
    case 1:
      return "set-baudrate";
    case 2:
      return "set-datasize";
    case 3:
      return "set-parity";
    case 4:
      return "set-stopsize";
    case 5:
      return "set-control";
    case 76:
      return "tcp-delimiter";
    case 77:
      return "uart-delimiter";
    case 78:
      return "echo78";
    case 79:
      return "option79";
    case 85:
      return "tcp-mode";
    case 88:
      return "net-address";
    case 89:
      return "name-password";
    case 90:
      return "uart-mode";
    case 91:
      return "value91";
    case 92:
      return "link-mode";
    case 93:
      return "value93";
    case 94:
      return "select-port";
    case 96:
      return "get-all";
    case 97:
      return "fixed97";
    case 98:
      return "fixed98";
    case 99:
      return "option99";
    default:
      return "unknown";
  }
}

const char* client_status_text(ClientStatus status) {
  switch (status) {
    case ClientStatus::kOk:
      return "ok";
    case ClientStatus::kBadRequest:
      return "request cannot be sent";
    case ClientStatus::kConnectFailed:
      return "cannot connect";
    case ClientStatus::kTimedOut:
      return "no reply in time";
    case ClientStatus::kClosed:
      return "connection closed";
    case ClientStatus::kIoError:
      return "connection error";
  }
  return "?";
}
