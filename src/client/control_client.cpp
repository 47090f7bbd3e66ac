#include "client/control_client.h"

#include <unistd.h>

#include "client/tcp_transport.h"
#include "protocol/frame_codec.h"

namespace {

bool is_tail(const unsigned char* p) { return p[0] == kIac && p[1] == kSe; }

ClientStatus status_of(TcpStatus s) {
  return s == TcpStatus::kOk         ? ClientStatus::kOk
         : s == TcpStatus::kTimedOut ? ClientStatus::kTimedOut
         : s == TcpStatus::kClosed   ? ClientStatus::kClosed
                                     : ClientStatus::kIoError;
}

bool take_pending(ControlConnection* conn, bool at_end, ReplyFrame* frame) {
  const int used =
      take_reply_frame(conn->pending.data(), static_cast<int>(conn->pending.size()), at_end, frame);
  if (used == 0) return false;
  conn->pending.erase(conn->pending.begin(), conn->pending.begin() + used);
  return true;
}

ClientStatus next_frame_until(ControlConnection* conn, TcpClock::time_point deadline,
                              ReplyFrame* frame) {
  for (;;) {
    if (take_pending(conn, false, frame)) return ClientStatus::kOk;
    const ClientStatus s =
        status_of(tcp_receive(conn->fd, &conn->pending, 4096, tcp_ms_left(deadline)));
    if (s == ClientStatus::kOk) continue;
    // Nothing more will come: what is left is read the way the daemon's scanner would.
    if (s != ClientStatus::kIoError && take_pending(conn, true, frame)) return ClientStatus::kOk;
    return s;
  }
}

}  // namespace

int reply_length(int code, const unsigned char* data, int have) {
  const CommandRow* row = find_command(code - kReplyOffset);
  if (!row) return -1;
  switch (row->reply) {
    case ReplyForm::kFixed:
      return row->reply_bytes;
    case ReplyForm::kSeries:
      return -1;
    case ReplyForm::kLinkLayout: {  // the mode byte says which layout follows
      if (have < 2) return -2;
      if (is_tail(data)) return 0;  // the reply to a mode-4 set carries nothing
      const int n = link_reply_length(data[0]);
      return n > 0 ? n : -1;
    }
    case ReplyForm::kTaggedText:  // no data for the sub-commands without a text
      if (have < 2) return -2;
      if (is_tail(data)) return 0;
      for (int i = 1; i < have; ++i)
        if (data[i] == 0) return i + 1;
      return -2;
  }
  return -1;
}

bool group_done(const ReplyGroup& group, int wanted) {
  if (group.empty()) return wanted <= 0;
  // An error reply stands for the whole answer (get-all before login, for instance).
  const int last = group.back().code;
  return static_cast<int>(group.size()) >= wanted ||
         (group.size() == 1 && last == kErrorReplyCode) || last == kEndOfSeries + kReplyOffset;
}

int take_reply_frame(const unsigned char* bytes, int count, bool at_end, ReplyFrame* frame) {
  int s = 0;
  while (s + 3 <= count &&
         !(bytes[s] == kIac && bytes[s + 1] == kSb && bytes[s + 2] == kComPortOption))
    ++s;
  if (s + 4 > count) return 0;
  const int length = reply_length(bytes[s + 3], bytes + s + 4, count - s - 4);
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
  const unsigned char* tail = bytes + s + frame_length - 2;
  frame->data.assign(data ? data : tail, tail);
  return s + frame_length;
}

ClientStatus client_connect(ControlConnection* conn, const std::string& host, uint16_t port,
                            int timeout_ms, std::string* why) {
  client_close(conn);
  conn->timeout_ms = timeout_ms;
  conn->address = host + ":" + std::to_string(port);
  const auto deadline = tcp_deadline(timeout_ms);
  conn->fd = tcp_open(host, port, TcpOptions{timeout_ms}, why);
  if (conn->fd < 0) return ClientStatus::kConnectFailed;
  // The daemon greets only the client it serves; another client may hold it.
  const TcpStatus s =
      tcp_receive_until(conn->fd, &conn->pending, kGreetingSize, tcp_ms_left(deadline));
  if (s != TcpStatus::kOk) {
    *why = s == TcpStatus::kTimedOut ? "no greeting (is another client connected?)"
                                     : "closed before its greeting";
    client_close(conn);
    return ClientStatus::kConnectFailed;
  }
  conn->pending.erase(conn->pending.begin(), conn->pending.begin() + kGreetingSize);
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
    if (reply_frames(r.code, r.data.data(), static_cast<int>(r.data.size())) < 0)
      return ClientStatus::kBadRequest;
    out->insert(out->end(), {kIac, kSb, kComPortOption, static_cast<unsigned char>(r.code)});
    out->insert(out->end(), r.data.begin(), r.data.end());
    out->insert(out->end(), {kIac, kSe});
  }
  return out->size() <= static_cast<std::size_t>(kReceiveBufferSize) ? ClientStatus::kOk
                                                                     : ClientStatus::kBadRequest;
}

ClientStatus client_send(ControlConnection* conn, const std::vector<unsigned char>& bytes) {
  return status_of(tcp_send_all(conn->fd, bytes.data(), bytes.size(), conn->timeout_ms));
}

ClientStatus client_next_frame(ControlConnection* conn, int wait_ms, ReplyFrame* frame) {
  return next_frame_until(conn, tcp_deadline(wait_ms), frame);
}

ClientStatus client_exchange(ControlConnection* conn, const std::vector<Request>& requests,
                             std::vector<ReplyGroup>* groups) {
  groups->clear();
  std::vector<unsigned char> bytes;
  if (encode_requests(requests, &bytes) != ClientStatus::kOk) return ClientStatus::kBadRequest;
  ClientStatus s = client_send(conn, bytes);
  if (s != ClientStatus::kOk) return s;
  const auto deadline = tcp_deadline(conn->timeout_ms);
  for (const Request& r : requests) {
    groups->emplace_back();
    ReplyGroup& group = groups->back();
    const int wanted = reply_frames(r.code, r.data.data(), static_cast<int>(r.data.size()));
    while (!group_done(group, wanted)) {
      ReplyFrame frame;
      s = next_frame_until(conn, deadline, &frame);
      if (s != ClientStatus::kOk) return s;
      group.push_back(std::move(frame));
    }
  }
  return ClientStatus::kOk;
}

ClientStatus client_login(ControlConnection* conn, const std::string& user,
                          const std::string& password, bool* accepted) {
  const std::string text = user.empty() ? password : user + " " + password;
  std::vector<ReplyGroup> groups;
  *accepted = false;
  const ClientStatus s = client_exchange(
      conn, {Request{0, std::vector<unsigned char>(text.begin(), text.end())}}, &groups);
  if (s != ClientStatus::kOk) return s;
  const ReplyGroup& g = groups[0];
  *accepted = g.size() == 1 && g[0].code == kLogin + kReplyOffset && g[0].data.size() == 1 &&
              g[0].data[0] == 'S';
  return ClientStatus::kOk;
}

const char* client_status_text(ClientStatus status) {
  static const char* const kTexts[] = {"ok",
                                       "request cannot be sent",
                                       "cannot connect",
                                       "no reply in time",
                                       "connection closed",
                                       "connection error"};
  return kTexts[static_cast<int>(status)];
}
