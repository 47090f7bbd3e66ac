#include "protocol/dispatcher.h"

#include <sys/ipc.h>
#include <sys/msg.h>

#include <cstdio>
#include <cstring>

#include "alert/alert_delivery.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "storage/eeprom_map.h"

namespace {

// The handlers of the command table's rows, in the rows' order.
constexpr CommandHandler kHandlers[] = {
#define COMMAND(code, id, name, request, check, reply, bytes, error, route, handler) handler,
#include "protocol/commands.def"
#undef COMMAND
};
static_assert(sizeof kHandlers / sizeof kHandlers[0] == kCommandCount);

// Runs one frame's command under its row: the length check the dispatcher owns, then the
// handler. The change report, 0 when nothing ran.
unsigned run_command(const CommandRow& row, const unsigned char* data, int d, int eth_index,
                     unsigned char* pos, int* size) {
  if (row.route == ChangeRoute::kNoHandler) {
    *size = 0;
    return 0;
  }
  if (row.check == LengthCheck::kDispatcher && !request_length_ok(row, data, d)) {
    put_error_reply(pos, size, row.error_byte);
    return 0;
  }
  return kHandlers[&row - kCommandRows](data, d, eth_index, pos, size);
}

}  // namespace

int dispatch_commands(const unsigned char* received, int count, int eth_index, int* logged_in,
                      unsigned char* answer, int answer_size, int* answer_length) {
  const unsigned char* read_pos = received;
  int remaining = count;
  unsigned char* write_pos = answer;
  int space = answer_size;
  int total = 0;
  unsigned flag_a = 0;
  unsigned flag_b = 0;

  while (remaining > 0) {
    int frame_length = 0;
    const unsigned char* data = nullptr;
    const int code = scan_frame(read_pos, remaining, &frame_length, &data);
    const int d = frame_length - kFrameOverhead;
    int size = space;

    const CommandRow* row = find_command(code);
    if (code != kLogin && *logged_in != 1) {
      // Before a login every code but 0 is refused; with no frame found the code is -1,
      // whose low 8 bits name 255.
      put_error_reply(write_pos, &size, code & 0xFF);
    } else if (!row || row->route == ChangeRoute::kNotServed) {
      // An unknown code, or no frame at all: nothing after it can be trusted. The replies
      // already built still go out.
      std::puts("Fetch command error");
      *answer_length = total;
      return -1;
    } else {
      const unsigned report = run_command(*row, data, d, eth_index, write_pos, &size);
      switch (row->route) {
        case ChangeRoute::kLogin:
          *logged_in = static_cast<int>(report);
          break;
        case ChangeRoute::kFlagA:
          flag_a |= report;
          break;
        case ChangeRoute::kFlagB:
          flag_b |= report;
          break;
        case ChangeRoute::kReplaceFlagB:
          flag_b = report;
          break;
        case ChangeRoute::kIgnored:
        case ChangeRoute::kNoHandler:
        case ChangeRoute::kNotServed:
          break;
      }
    }

    write_pos += size;
    total += size;
    space -= size;
    read_pos += frame_length;
    remaining -= frame_length;
    if (frame_length == 0) break;
  }

  *answer_length = total;
  if (flag_a != 0 || flag_b != 0) send_change_notice(act_g());
  return 0;
}

unsigned handle_login(const unsigned char* data, int length, int eth_index, unsigned char* pos,
                      int* size) {
  char expected[kLoginWorkAreaSize];
  std::memset(expected, 0, sizeof expected);

  const bool with_user = length > 0 && std::memchr(data, ' ', static_cast<size_t>(length));
  char* password_at = expected;
  if (with_user) {
    get_eeUserName(expected);
    // The zeroed work area ends a full-length name.
    const size_t n = std::strlen(expected);
    expected[n] = ' ';
    password_at = expected + n + 1;
  }
  get_eePassword(password_at);

  const int n = static_cast<int>(std::strlen(expected));
  std::printf("Ethernet %d, password: %s\n", eth_index, expected);

  const bool ok =
      (n == 0 && length == 0) ||
      (n > 0 && length == n && std::memcmp(data, expected, static_cast<size_t>(n)) == 0);
  const unsigned char state = ok ? 'S' : 'F';
  put_reply(pos, size, kLogin, &state, 1);
  std::printf("login state: %c\n", state);
  if (!ok) authenFailAlert("Authentication Failure (Manager Tool)");
  return ok ? 1 : 0;
}

int send_change_notice(int port) {
  ChangeNotice notice;
  std::memset(&notice, 0, sizeof notice);
  notice.type = kChangeNoticeType;
  std::snprintf(notice.text, sizeof notice.text, "%d", port);

  const int queue = msgget(kChangeNoticeKey, 0600);
  if (queue < 0) std::puts("server: can't get message queue 1");
  // Blocks while the queue is full; the forwarding side reads it.
  msgsnd(queue, &notice, sizeof notice.text, 0);
  return 0;
}
