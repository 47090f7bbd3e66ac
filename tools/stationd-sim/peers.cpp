#include "peers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/root.h"

namespace {

constexpr const char* kPeerPaths[] = {"/bin/snmptrap", "/usr/sbin/mail"};

// What marks a stand-in as the peer variant (it sits in the script's second line).
constexpr char kMarker[] = "peer stand-in of stationd-sim --peers";

// One program for both roles, chosen by the name it is called as. It records its call in
// programs.log exactly as the recording-only stand-ins do, then checks the destination and
// hands over; what it did or refused goes to peers.log. Python's standard library only.
constexpr char kScript[] = R"PY(#!/usr/bin/python3
# peer stand-in of stationd-sim --peers: records its call, then delivers to loopback or an
# address of an interface in this network namespace only.
import email.utils, ipaddress, os, re, smtplib, sys

ROLES = {"snmptrap": "bin/snmptrap", "mail": "usr/sbin/mail"}
me = os.path.abspath(sys.argv[0])
name = os.path.basename(me)
root = me[: -len(ROLES[name]) - 1]
args = sys.argv[1:]
logs = os.path.join(root, "var/log")

with open(os.path.join(logs, "programs.log"), "a") as f:
    f.write(" ".join([name] + args) + "\n")

def note(text):
    with open(os.path.join(logs, "peers.log"), "a") as f:
        f.write(name + ": " + text + "\n")

def local_addresses():
    """The IPv4 addresses of the interfaces in this network namespace."""
    found, last = set(), None
    with open("/proc/net/fib_trie") as f:
        for line in f:
            m = re.search(r"\|-- (\d+\.\d+\.\d+\.\d+)", line)
            if m:
                last = m.group(1)
            elif "/32 host LOCAL" in line and last:
                found.add(last)
    return found

def destination(text, default_port):
    """(address, port) when text names loopback or a local address; None otherwise."""
    if text.startswith("udp:"):
        text = text[4:]
    host, _, port = text.partition(":")
    if host == "localhost":
        host = "127.0.0.1"
    try:
        address = ipaddress.IPv4Address(host)
        port = int(port) if port else default_port
    except ValueError:
        return None
    if not 0 < port < 65536:
        return None
    if address.is_loopback or str(address) in local_addresses():
        return str(address), port
    return None

def refuse(text):
    note("refused " + text + ": only loopback or an address of this network namespace")
    sys.exit(1)

def trap():
    # net-snmp's options that take a value; the first other word is the manager.
    with_value = set("YmMOIPDvrtcZeEnulxXaApTLsSC")
    i = 0
    while i < len(args) and args[i].startswith("-") and len(args[i]) > 1:
        if args[i][1] in with_value and len(args[i]) == 2:
            i += 1
        i += 1
    if i >= len(args) or destination(args[i], 162) is None:
        refuse(args[i] if i < len(args) else "(no manager)")
    real = "/usr/bin/snmptrap"
    if not os.access(real, os.X_OK):
        note(real + " is not installed; recorded only")
        sys.exit(0)
    note("handed to " + args[i])
    os.environ["SNMP_PERSISTENT_DIR"] = os.path.join(root, "tmp/net-snmp")
    os.execv(real, ["snmptrap"] + args)

def mail():
    message = sys.stdin.buffer.read()
    options, receivers, i = {}, [], 0
    while i < len(args):
        if args[i] in ("-S", "-f", "-s", "-U", "-E") and i + 1 < len(args):
            options[args[i]] = args[i + 1]
            i += 2
        else:
            receivers.append(args[i])
            i += 1
    if "-S" not in options or "-f" not in options or not receivers:
        note("needs -S server -f sender and receivers")
        sys.exit(1)
    where = destination(options["-S"], 25)
    if where is None:
        refuse(options["-S"])
    head = "From: %s\r\nTo: %s\r\nSubject: %s\r\nDate: %s\r\n\r\n" % (
        options["-f"], ", ".join(receivers), options.get("-s", ""),
        email.utils.formatdate(localtime=True))
    body = re.sub(rb"\r\n|\r|\n", b"\r\n", message)
    try:
        with smtplib.SMTP(where[0], where[1], timeout=20) as smtp:
            if "-U" in options:
                smtp.login(options["-U"], options.get("-E", ""))
            smtp.sendmail(options["-f"], receivers, head.encode() + body)
    except (OSError, smtplib.SMTPException) as e:
        note("not delivered to %s:%d: %s" % (where[0], where[1], e))
        sys.exit(1)
    note("delivered to %s:%d for %s" % (where[0], where[1], " ".join(receivers)))

trap() if name == "snmptrap" else mail()
)PY";

bool is_peer_stand_in(const char* path) {
  char head[256] = "";
  FILE* f = std::fopen(path, "r");
  if (!f) return false;
  const std::size_t n = std::fread(head, 1, sizeof head - 1, f);
  std::fclose(f);
  head[n] = '\0';
  return std::strstr(head, kMarker) != nullptr;
}

}  // namespace

int install_peer_stand_ins() {
  for (const char* device_path : kPeerPaths) {
    const RootedPath path = rooted(device_path);
    // A new file, renamed over the old one: a stand-in that runs meanwhile stays whole.
    const std::string temporary = std::string(path.c_str()) + ".peer";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
    const std::size_t size = sizeof kScript - 1;
    const bool ok = fd >= 0 && ::write(fd, kScript, size) == static_cast<ssize_t>(size) &&
                    ::fchmod(fd, 0755) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
      std::fprintf(stderr, "stationd-sim: %s: %s\n", path.c_str(), std::strerror(errno));
      ::unlink(temporary.c_str());
      return -1;
    }
  }
  return 0;
}

int remove_peer_stand_ins() {
  int removed = 0;
  for (const char* device_path : kPeerPaths) {
    const RootedPath path = rooted(device_path);
    if (is_peer_stand_in(path.c_str()) && ::unlink(path.c_str()) == 0) removed = 1;
  }
  return removed;
}
