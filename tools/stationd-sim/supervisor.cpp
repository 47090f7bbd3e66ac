#include "supervisor.h"

#include <signal.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "../forward_until_stopped.h"
#include "forward/notice_queue.h"
#include "forwarder.h"
#include "null_modem.h"
#include "platform/root.h"
#include "protocol/change_notice.h"
#include "service/daemon_main.h"

// Why a parent and two children: the daemon blocks in accept and recv for ever and has no
// way out of its loop, so it cannot tidy up after itself. The parent does nothing but wait
// for a signal, so it can end the children by the PIDs it got from fork and remove the
// queue. The children die with the parent (PR_SET_PDEATHSIG), so even a parent ended with
// SIGKILL leaves no daemon behind; the queue then stays until the next run reuses it.

namespace {

void note_child(int) {}  // SIGCHLD must not be ignored, or it would never be waited for

// In a new child: the signal set-up of an ordinary process again, and the promise to end
// with the parent.
void become_child(pid_t parent, const sigset_t& old_mask) {
  signal(SIGCHLD, SIG_DFL);
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(0);  // the parent went before the promise was made
}

// Ends a child that is still there (not reaped: its PID is still set) and reaps it.
void end_child(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// The real forwarder in the child: the same loop stationfwd runs (a PowerPC simulator under
// an emulator cannot start another PowerPC program, so it is not exec'd).
[[noreturn]] void run_real_forwarder(const ForwardingPlan& plan, const NullModems& modems) {
  std::string paths[2];
  for (int i = 0; i < 2; ++i)
    paths[i] = plan.serial[i].empty() ? modems.forwarder_paths[i] : plan.serial[i];
  _exit(forward_until_stopped(paths, kChangeNoticeKey, plan.network));
}

}  // namespace

int supervise(uint16_t listen_port, const ForwardingPlan& plan) {
  const bool with_forwarder = plan.kind != ForwardingPlan::kNone;
  const bool pairs = plan.kind == ForwardingPlan::kReal && plan.serial[0].empty();
  bool created = false;
  const int queue = with_forwarder ? open_notice_queue(kChangeNoticeKey, &created) : 0;
  if (queue < 0) {
    std::fprintf(stderr, "stationd-sim: message queue 1234: %s\n", std::strerror(errno));
    return -1;
  }
  NullModems modems;
  if (pairs && make_null_modems(&modems) != 0) {
    close_null_modems(&modems);
    unpublish_null_modems();
    if (created) msgctl(queue, IPC_RMID, nullptr);
    return -1;
  }

  sigset_t waited, old_mask;
  sigemptyset(&waited);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&waited, s);
  signal(SIGCHLD, note_child);
  sigprocmask(SIG_BLOCK, &waited, &old_mask);

  const pid_t parent = getpid();
  std::fflush(nullptr);
  // The relay first: the pairs carry bytes from the moment the forwarder opens its ends.
  pid_t relay = pairs ? fork() : 0;
  if (pairs && relay == 0) {
    become_child(parent, old_mask);
    run_null_modem_relay(modems);
  }
  // Without the forwarder the queue is left to the caller: missing, or filled and drained
  // by a test, as the device's other program might leave it.
  pid_t forwarder = relay < 0 ? -1 : with_forwarder ? fork() : 0;
  if (with_forwarder && forwarder == 0) {
    become_child(parent, old_mask);
    if (plan.kind == ForwardingPlan::kStandIn) run_forwarder(queue);
    close_null_modems(&modems);  // the relay holds the pairs; the forwarder opens its ends
    run_real_forwarder(plan, modems);
  }
  close_null_modems(&modems);
  // The queue exists before the daemon starts, so no notice can find it missing.
  pid_t daemon = forwarder < 0 ? -1 : fork();
  if (daemon == 0) {
    become_child(parent, old_mask);
    std::exit(daemon_main(listen_port));
  }

  int result = 0;
  if (relay < 0 || forwarder < 0 || daemon < 0) {
    std::fprintf(stderr, "stationd-sim: fork: %s\n", std::strerror(errno));
    result = -1;
  } else {
    std::fprintf(stderr, "stationd-sim: root %s, port %u; SIGINT or SIGTERM ends it\n", root_dir(),
                 unsigned(listen_port));
    for (;;) {
      siginfo_t info;
      const int s = sigwaitinfo(&waited, &info);
      if (s < 0) continue;  // EINTR
      if (s != SIGCHLD) break;
      int status = 0;
      const pid_t pid = waitpid(-1, &status, WNOHANG);
      if (pid <= 0 || (pid != daemon && pid != forwarder && pid != relay)) continue;
      const std::string why = WIFEXITED(status)
                                  ? "exit status " + std::to_string(WEXITSTATUS(status))
                                  : "signal " + std::to_string(WTERMSIG(status));
      std::fprintf(stderr, "stationd-sim: the %s ended (%s)\n",
                   pid == daemon ? "daemon" : pid == forwarder ? "forwarder" : "serial relay",
                   why.c_str());
      (pid == daemon ? daemon : pid == forwarder ? forwarder : relay) = 0;  // reaped
      result = 1;
      break;
    }
  }
  end_child(daemon);
  end_child(forwarder);
  end_child(relay);
  if (pairs) unpublish_null_modems();
  if (created) msgctl(queue, IPC_RMID, nullptr);
  return result;
}
