// tarvik-ntrip-load: drives the NTRIP caster of a running Tarvik with many
// rovers at a receiver's duty cycle.
//
//   tarvik-ntrip-load --port P [--host H] [--mount M] [--user U:P] [--version 1|2]
//                     [--rovers N] [--seconds S] [--interval-ms I] [--messages K]
//                     [--sources A] [--server-pid PID]
//
// Exit status 0 when every stream started and every GGA sent was answered.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "NtripLoad.h"

int main(int argc, char** argv) {
  tarvik::bench::NtripLoadOptions o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--port")
      o.port = static_cast<uint16_t>(std::atoi(v.c_str()));
    else if (k == "--host")
      o.host = v;
    else if (k == "--mount")
      o.mount = v;
    else if (k == "--user")
      o.user = v;
    else if (k == "--version")
      o.ntrip2 = v == "2";
    else if (k == "--rovers")
      o.rovers = std::atoi(v.c_str());
    else if (k == "--seconds")
      o.seconds = std::atof(v.c_str());
    else if (k == "--interval-ms")
      o.intervalMs = std::atoi(v.c_str());
    else if (k == "--messages")
      o.messagesPerAnswer = std::atoi(v.c_str());
    else if (k == "--sources")
      o.sourceAddresses = std::atoi(v.c_str());
    else if (k == "--server-pid")
      o.serverPid = std::atoi(v.c_str());
    else {
      std::fprintf(stderr, "unknown option %s\n", k.c_str());
      return 2;
    }
  }
  if (o.port == 0 || o.rovers <= 0 || o.intervalMs <= 0 || o.messagesPerAnswer <= 0) {
    std::fprintf(stderr,
                 "usage: tarvik-ntrip-load --port P [--host H] [--mount M] [--user U:P] [--version 1|2] "
                 "[--rovers N] [--seconds S] [--interval-ms I] [--messages K] [--sources A] "
                 "[--server-pid PID]\n");
    return 2;
  }
  const tarvik::bench::NtripLoadResult r = tarvik::bench::RunNtripLoad(o);
  std::printf("%s\n", tarvik::bench::Describe(o, r).c_str());
  return r.error.empty() && r.answered == r.sent && r.lostRovers == 0 ? 0 : 1;
}
