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

using R = ChangeRoute;

// clang-format off
CommandEntry g_command_table[] = {
    {1,  R::kFlagA,        cmd_set_baudrate,   nullptr},
    {2,  R::kFlagA,        cmd_set_datasize,   nullptr},
    {3,  R::kFlagA,        cmd_set_parity,     nullptr},
    {4,  R::kFlagA,        cmd_set_stopsize,   nullptr},
    {5,  R::kFlagA,        cmd_set_control,    nullptr},
    {76, R::kFlagA,        cmd_tcp_delimiter,  nullptr},
    {77, R::kFlagA,        cmd_uart_delimiter, nullptr},
    {78, R::kIgnored,      cmd_echo78,         nullptr},
    {79, R::kFlagB,        cmd_option79,       nullptr},
    {85, R::kIgnored,      cmd_tcp_mode,       nullptr},
    {88, R::kIgnored,      nullptr,            cmd_net_address},
    {89, R::kIgnored,      nullptr,            set_namepassword},
    {90, R::kFlagA,        cmd_uart_mode,      nullptr},
    {91, R::kIgnored,      cmd_value91,        nullptr},
    {92, R::kReplaceFlagB, cmd_link_mode,      nullptr},
    {93, R::kIgnored,      cmd_value93,        nullptr},
    {94, R::kIgnored,      cmd_select_port,    nullptr},
    {96, R::kIgnored,      cmd_get_all,        nullptr},
    {97, R::kNoHandler,    nullptr,            nullptr},
    {98, R::kNoHandler,    nullptr,            nullptr},
    {99, R::kFlagA,        cmd_option99,       nullptr},
};
// clang-format on

CommandEntry* entry_of(int code) {
  for (CommandEntry& e : g_command_table)
    if (e.code == code) return &e;
  return nullptr;
}

// The message as msgsnd takes it: the type is the native long of the machine.
struct ChangeNotice {
  long type;
  char text[kChangeNoticeTextSize];
};

}  // namespace

const CommandEntry* find_command(int code) { return entry_of(code); }

CommandHandler swap_command_handler(int code, CommandHandler handler) {
  CommandEntry* e = entry_of(code);
  if (!e || !e->handler) return nullptr;
  CommandHandler old = e->handler;
  e->handler = handler;
  return old;
}

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
    const int d = frame_length - 6;
    int size = space;

    if (code == 0) {
      *logged_in = static_cast<int>(handle_login(data, d, eth_index, write_pos, &size));
    } else if (*logged_in == 1) {
      const CommandEntry* e = entry_of(code);
      if (!e) {
        // An unknown code, or no frame at all: nothing after it can be trusted. The replies
        // already built still go out.
        std::puts("Fetch command error");
        *answer_length = total;
        return -1;
      }
      unsigned report = 0;
      if (e->route == R::kNoHandler)
        size = 0;
      else if (e->iface_handler)
        report = e->iface_handler(data, d, eth_index, write_pos, &size);
      else
        report = e->handler(data, d, write_pos, &size);
      switch (e->route) {
        case R::kFlagA:
          flag_a |= report;
          break;
        case R::kFlagB:
          flag_b |= report;
          break;
        case R::kReplaceFlagB:
          flag_b = report;
          break;
        case R::kIgnored:
        case R::kNoHandler:
          break;
      }
    } else {
      // Before a login every code but 0 is refused; with no frame found the code is -1,
      // whose low 8 bits name 255.
      put_error_reply(write_pos, &size, code & 0xFF);
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
  put_reply(pos, size, 0, &state, 1);
  std::printf("login state: %c\n", state);
  if (!ok) authenFailAlert("Authentication Failure (Manager Tool)");
  return ok ? 1 : 0;
}

int send_change_notice(int port) {
  ChangeNotice notice;
  std::memset(&notice, 0, sizeof notice);
  notice.type = 1;
  std::snprintf(notice.text, sizeof notice.text, "%d", port);

  const int queue = msgget(kChangeNoticeKey, 0600);
  if (queue < 0) std::puts("server: can't get message queue 1");
  // Blocks while the queue is full; the forwarding side reads it.
  msgsnd(queue, &notice, kChangeNoticeTextSize, 0);
  return 0;
}
