// stationfwd: the serial-forwarding side. On the device it bridges /dev/ttyS0 and /dev/ttyS1
// to the network as station.ini says and logs to the system log; on a PC it needs a device
// root, takes the two ports and the queue key as options and logs under the root.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../forward_until_stopped.h"
#include "common/number_text.h"
#include "forward/forward_log.h"
#include "platform/device_root.h"
#include "platform/root.h"
#include "platform/syslog.h"
#include "protocol/change_notice.h"

namespace {

// getopt_long, not an option library: the program runs on the device.
const option kOptions[] = {{"root", required_argument, nullptr, 'r'},
                           {"serial", required_argument, nullptr, 's'},
                           {"queue-key", required_argument, nullptr, 'q'},
                           {"network", no_argument, nullptr, 'n'},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, 'v'},
                           {nullptr, 0, nullptr, 0}};

void print_help() {
  std::printf(
      "usage: stationfwd [--root DIR] [--serial PATH1,PATH2] [--queue-key N]\n"
      "Bridges the serial ports COM1 and COM2 to the network as station.ini says.\n"
      "  --root DIR            play the device on the folder DIR (required on a PC); the\n"
      "                        messages go to DIR/var/log/stationfwd.log\n"
      "  --serial PATH1,PATH2  the lines of COM1 and COM2 (default /dev/ttyS0,/dev/ttyS1,\n"
      "                        under the root when there is one)\n"
      "  --queue-key N         the change-notice queue's key (default %d)\n"
      "  --network             with a root, also reach addresses outside loopback and this\n"
      "                        network namespace\n"
      "  --help                show this text\n"
      "  --version             show the program's version\n",
      kChangeNoticeKey);
}

void print_completion() {
  std::printf(
      "# bash completion for stationfwd, generated from its own options\n"
      "_stationfwd() {\n  COMPREPLY=($(compgen -W \"");
  for (const option* o = kOptions; o->name; ++o)
    std::printf("%s--%s", o == kOptions ? "" : " ", o->name);
  std::printf("\" -- \"${COMP_WORDS[COMP_CWORD]}\"))\n}\ncomplete -F _stationfwd stationfwd\n");
}

int bad_args(const char* why) {
  std::fprintf(stderr, "stationfwd: %s\nstationfwd --help lists the options.\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--bash-completion") == 0)  // for the package
    return print_completion(), 0;
  const char* root = nullptr;
  std::string paths[2];
  int key = kChangeNoticeKey;
  bool network = false;
  for (int c; (c = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'r': root = optarg; break;
      case 's': {
        const char* comma = std::strchr(optarg, ',');
        if (!comma || comma == optarg || !comma[1]) return bad_args("--serial needs PATH1,PATH2");
        paths[0].assign(optarg, static_cast<std::size_t>(comma - optarg));
        paths[1] = comma + 1;
        break;
      }
      case 'q': {
        uint32_t n = 0;
        if (!parse_number(optarg, 0x7FFFFFFF, &n) || n == 0)
          return bad_args("--queue-key needs a number");
        key = static_cast<int>(n);
        break;
      }
      case 'n': network = true; break;
      case 'h': print_help(); return 0;
      case 'v': std::printf("stationfwd " STATION_VERSION "\n"); return 0;
      case ':': return bad_args("an option lacks its value");
      default: return bad_args("unknown option");
    }
  }
  if (optind < argc) return bad_args("no arguments beside the options");
  if (refuse_pc_without_root(root) != 0)
    return bad_args("this is a PC build: give --root DIR, a device root folder other than /");
  if (root && root[0] && prepare_device_root(root) != 0) return 2;
  if (paths[0].empty()) {
    paths[0] = rooted("/dev/ttyS0").c_str();
    paths[1] = rooted("/dev/ttyS1").c_str();
  }
  if (!has_root()) platform_openlog("stationfwd", LOG_PID, LOG_DAEMON);
  return forward_until_stopped(paths, key, network);
}
