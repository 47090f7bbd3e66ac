// Runs the dispatcher over one received buffer, logged in or not, from eth0 or elsewhere, on a
// temporary device root with a factory station.ini and EEPROM image. The EEPROM is a chip in
// memory behind an instant pause; the change-notice queue lives in a private IPC namespace
// and is drained after each input. Every input starts from the same stores, and must leave
// the answer within its buffer, the login state 0 or 1 and the EEPROM lock released. The
// answer is then read back with the client's reply parser: each frame must have earned
// exactly the replies the command table promises, as long as the answer had room for them.
#include <sched.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/control_client.h"
#include "model/port_loader.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "protocol/change_notice.h"
#include "protocol/dispatcher.h"
#include "protocol/frame_codec.h"
#include "service/session.h"
#include "storage/defaults.h"
#include "storage/eeprom_map.h"
#include "storage/station_ini.h"
#include "support/fake_i2c.h"

namespace {

// The chip: the tests' EEPROM in memory (tests/support/fake_i2c), with an instant pause.
// What it records of each input's transfers is dropped before the next.
FakeI2c* g_chip = nullptr;
std::array<unsigned char, 8192> g_chip_start;

char g_root[] = "/tmp/dispatcher_fuzz.XXXXXX";
std::string g_ini_start;
int g_queue = -1;
PortTable* g_table = nullptr;
PortTable g_table_start;
SnmpIdentity g_identity_start;

void require(bool condition) {
  if (!condition) abort();
}

std::string at(const char* path) { return std::string(g_root) + path; }

void remove_root() { std::filesystem::remove_all(g_root); }

std::string read_ini() {
  std::ifstream ini(at(kStationIniPath), std::ios::binary);
  std::stringstream text;
  text << ini.rdbuf();
  return text.str();
}

// Puts station.ini back when an input changed it; rewriting it every time would cost more
// than the dispatch.
void restore_ini() {
  if (read_ini() != g_ini_start)
    std::ofstream(at(kStationIniPath), std::ios::binary | std::ios::trunc) << g_ini_start;
}

bool prepare() {
  // Queue 1234 must be this process's own: a notice may never reach a real queue.
  // Without the privilege for that, a user namespace of its own grants it.
  if (unshare(CLONE_NEWIPC) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWIPC) != 0) {
    std::fputs("dispatcher_fuzz: no private IPC namespace\n", stderr);
    abort();
  }
  g_queue = msgget(kChangeNoticeKey, IPC_CREAT | 0600);
  require(g_queue >= 0);
  require(mkdtemp(g_root) != nullptr);
  std::atexit(remove_root);
  require(prepare_device_root(g_root) == 0);  // and moves into it: "2>@1" lands there
  std::fflush(stdout);
  require(std::freopen("/dev/null", "w", stdout) != nullptr);  // the handlers' chatter

  static FakeI2c chip;
  g_chip = &chip;
  factory_initialize();
  load_default_settings();
  set_eePassword("secret\0\0");  // so seeds can log in: "secret", or "<user> secret"
  g_chip_start = g_chip->chip;
  g_ini_start = read_ini();

  g_table = static_cast<PortTable*>(std::calloc(1, sizeof(PortTable)));
  require(g_table != nullptr);
  load_port_table(g_table, get_port_count());
  load_snmp_identity(process_snmp_identity());
  g_table_start = *g_table;
  g_identity_start = *process_snmp_identity();
  set_session_context(g_table, get_port_count(), process_snmp_identity());
  return true;
}

// Reads the replies of one answer in order, as the client would.
struct AnswerReader {
  const unsigned char* answer;
  int length;
  int at = 0;

  // The next reply when it has the code wanted (or is the error reply naming error_byte);
  // else nothing is taken, which is only right when the reply could not have fitted: less
  // room was left than its frame with at most `bound` data bytes.
  bool take(int code, int error_byte, int bound, ReplyFrame* frame) {
    const int used = take_reply_frame(answer + at, length - at, true, frame);
    const bool expected = used > 0 && (frame->code == code ||
                                       (error_byte >= 0 && frame->code == kErrorReplyCode &&
                                        frame->data.size() == 1 && frame->data[0] == error_byte));
    if (expected) {
      // A reply of a fixed length carries exactly that many bytes.
      const CommandRow* row = find_command(frame->code - kReplyOffset);
      if (row && row->reply == ReplyForm::kFixed)
        require(static_cast<int>(frame->data.size()) == row->reply_bytes);
      at += used;
      return true;
    }
    require(kAnswerBufferSize - at < kFrameOverhead + bound);
    return false;
  }
};

// The most data bytes the reply of a code can carry for a request of d data bytes.
int reply_bound(int code, int d) {
  const CommandRow* row = find_command(code);
  switch (row->reply) {
    case ReplyForm::kFixed:
      return row->reply_bytes;
    case ReplyForm::kTaggedText:
      return 2 + std::max(d, static_cast<int>(name_password::kTextMax));
    case ReplyForm::kLinkLayout:
      return kLinkReplyMax;
    case ReplyForm::kSeries:
      break;
  }
  return 0;
}

// Walks the received frames as the dispatcher does and holds each to its promised replies.
void check_replies(const std::vector<unsigned char>& received, int logged_in,
                   const unsigned char* answer, int length) {
  AnswerReader reader{answer, length};
  ReplyFrame f;
  for (int pos = 0, count = static_cast<int>(received.size()); pos < count;) {
    int frame_length = 0;
    const unsigned char* data = nullptr;
    const int code = scan_frame(received.data() + pos, count - pos, &frame_length, &data);
    const int d = frame_length - kFrameOverhead;
    if (code != kLogin && logged_in != 1) {
      reader.take(kErrorReplyCode, code & 0xFF, 1, &f);
    } else if (code == kLogin) {
      // A login whose reply did not fit leaves the state after it unknown: stop here.
      if (!reader.take(kLogin + kReplyOffset, -1, 1, &f)) return;
      logged_in = f.data.size() == 1 && f.data[0] == 'S';
    } else {
      const int frames = reply_frames(code, data, d);
      if (frames < 0) break;  // the dispatcher stops here
      const CommandRow& row = *find_command(code);
      if (row.reply == ReplyForm::kSeries && frames == kGetAllFrames) {
        for (int series_code : kGetAllSeries)
          reader.take(series_code + kReplyOffset, -1, reply_bound(series_code, 0), &f);
      } else if (frames == 1) {
        reader.take(code + kReplyOffset, row.error_byte, reply_bound(code, d), &f);
      }
    }
    if (frame_length == 0) break;
    pos += frame_length;
  }
  require(reader.at == length);  // nothing more than was promised
}

}  // namespace

// The root becomes the working directory, so relative corpus folders and the default artifact
// place are made absolute first; libFuzzer reads its flags after this.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> texts;
  static std::vector<char*> args;
  char cwd[4096];
  require(getcwd(cwd, sizeof cwd) != nullptr);
  bool artifact_prefix = false;
  for (int i = 0; i < *argc; ++i) {
    const std::string arg = (*argv)[i];
    artifact_prefix |= arg.rfind("-artifact_prefix=", 0) == 0;
    texts.push_back(i > 0 && arg[0] != '-' && arg[0] != '/' ? std::string(cwd) + "/" + arg : arg);
  }
  if (!artifact_prefix) texts.push_back(std::string("-artifact_prefix=") + cwd + "/");
  for (std::string& text : texts) args.push_back(text.data());
  args.push_back(nullptr);
  *argc = static_cast<int>(texts.size());
  *argv = args.data();
  return prepare() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  // First byte: bit 0 logged in, bit 1 the connection is on eth0.
  int logged_in = bytes[0] & 1;
  const int eth_index = (bytes[0] & 2) ? 1 : -1;
  const int count = static_cast<int>(std::min<size_t>(size - 1, kReceiveBufferSize));
  std::vector<unsigned char> received(bytes + 1, bytes + 1 + count);

  g_chip->chip = g_chip_start;
  g_chip->transfers.clear();
  restore_ini();
  *g_table = g_table_start;
  *process_snmp_identity() = g_identity_start;
  set_current_port(1);

  auto* answer = new unsigned char[kAnswerBufferSize];  // exact size: ASan sees an overrun
  int length = -7;
  const int result = dispatch_commands(received.data(), count, eth_index, &logged_in, answer,
                                       kAnswerBufferSize, &length);
  require(result == 0 || result == -1);
  require(length >= 0 && length <= kAnswerBufferSize);
  require(logged_in == 0 || logged_in == 1);
  check_replies(received, bytes[0] & 1, answer, length);
  delete[] answer;
  require(access(at("/tmp/eeprom.lock").c_str(), F_OK) != 0);

  ChangeNotice notice;
  while (msgrcv(g_queue, &notice, sizeof notice.text, 0, IPC_NOWAIT) >= 0) {
  }
  // Logs would grow without bound over millions of inputs.
  for (const char* log : {"/var/log/alertd.log", "/var/log/messages", "/var/log/programs.log"})
    truncate(at(log).c_str(), 0);
  return 0;
}
