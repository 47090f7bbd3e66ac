// stationd: the device's configuration daemon. No arguments, the device's fixed paths, the
// control port (kControlPort). A PC build is not the device: it points to the simulator
// instead.
#include <cstdio>

#include "protocol/wire_format.h"
#include "service/daemon_main.h"

int main() {
#ifdef STATION_DEVICE_BUILD
  return daemon_main(kControlPort);
#else
  std::fputs(
      "stationd is the device daemon and runs only on the device.\n"
      "On a PC, run the simulator: stationd-sim --root DIR [--port N]\n",
      stderr);
  return 2;
#endif
}
