// The client side of the control connection: connect, skip the daemon's greeting, send one
// buffer of request frames, and collect the reply frames with a time-out, grouped by the
// request they answer; login. Hides the socket, poll and the reading of reply frames whose
// data hold the bytes FF F0 that would otherwise end them early; how many replies a request
// earns and how long each is come from the command table. Results are values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/command_table.h"

struct Request {
  int code = 0;
  std::vector<unsigned char> data;
};

struct ReplyFrame {
  int code = -1;  // reply code: request code + 100, or 180 for the error reply
  std::vector<unsigned char> data;
};

// The replies to one request: none (codes 97, 98, link mode byte 8 and up), one, the 15 of
// get-all, or the single error reply that ends the group early.
using ReplyGroup = std::vector<ReplyFrame>;

enum class ClientStatus {
  kOk,
  kBadRequest,     // the request cannot travel: FF F0 in its data, too long, unknown code
  kConnectFailed,  // no connection, or no greeting
  kTimedOut,       // the replies did not arrive in time
  kClosed,         // the daemon closed the connection
  kIoError,
};

struct ControlConnection {
  int fd = -1;
  int timeout_ms = 10000;
  std::string address;                 // "host:port" as tried, for messages
  std::vector<unsigned char> pending;  // received bytes not yet taken as frames
};

// Connects to host (a dotted quad or a name) and port and takes the 2-byte greeting within
// timeout_ms. kOk, or kConnectFailed with the system's reason in *why.
ClientStatus client_connect(ControlConnection* conn, const std::string& host, uint16_t port,
                            int timeout_ms, std::string* why);
void client_close(ControlConnection* conn);

// IAC SB 44 code data IAC SE for each request, in order. kBadRequest when a request's data
// hold FF F0 (the daemon would cut the frame there), the buffer exceeds what the daemon reads
// at once (kReceiveBufferSize), or a code is one the daemon does not serve.
ClientStatus encode_requests(const std::vector<Request>& requests, std::vector<unsigned char>* out);

// Sends the requests as one buffer and collects their replies: groups->size() equals the
// number of requests on kOk. On kTimedOut or kClosed the groups hold what arrived.
ClientStatus client_exchange(ControlConnection* conn, const std::vector<Request>& requests,
                             std::vector<ReplyGroup>* groups);

// Low-level pieces, for stationctl's raw command.
ClientStatus client_send(ControlConnection* conn, const std::vector<unsigned char>& bytes);
// Waits up to wait_ms for the next reply frame. kTimedOut when none came.
ClientStatus client_next_frame(ControlConnection* conn, int wait_ms, ReplyFrame* frame);

// The data length of a reply by its code and the first `have` bytes after the code: >= 0 when
// the command table fixes it, -1 when it leaves it open, -2 when more bytes must tell.
int reply_length(int code, const unsigned char* data, int have);
// Whether a group holds the `wanted` replies its request earns (reply_frames), or ended early
// with the error reply standing for the whole answer, or with the end of get-all's series.
bool group_done(const ReplyGroup& group, int wanted);

// Takes the first reply frame out of count received bytes. Where the reply code fixes the
// data length, the frame ends at that length (its data may hold FF F0); otherwise at the
// first FF F0, as the daemon's scanner would cut it. Returns the bytes consumed, stray bytes
// before the head included; 0 when the bytes do not yet hold a whole frame. With at_end
// (nothing more will arrive) a frame is cut at its first FF F0 whatever its code.
int take_reply_frame(const unsigned char* bytes, int count, bool at_end, ReplyFrame* frame);

// Logs in with "user password", or the password alone when user is empty. kOk with
// *accepted telling whether the daemon answered "S".
ClientStatus client_login(ControlConnection* conn, const std::string& user,
                          const std::string& password, bool* accepted);

const char* client_status_text(ClientStatus status);
