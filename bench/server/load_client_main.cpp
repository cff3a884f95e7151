// tarvik-load: drives a running configuration with GGA requests.
//
//   tarvik-load --port P [--host H] [--clients N] [--seconds S] [--idle M]
//               [--messages K] [--format binary|ascii|xml] [--request TEXT]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LoadClient.h"

int main(int argc, char** argv) {
  tarvik::bench::LoadOptions o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i], v = argv[i + 1];
    if (k == "--port")
      o.port = static_cast<uint16_t>(std::atoi(v.c_str()));
    else if (k == "--host")
      o.host = v;
    else if (k == "--clients")
      o.clients = std::atoi(v.c_str());
    else if (k == "--seconds")
      o.seconds = std::atof(v.c_str());
    else if (k == "--idle")
      o.idle = std::atoi(v.c_str());
    else if (k == "--messages")
      o.messagesPerAnswer = std::atoi(v.c_str());
    else if (k == "--format")
      o.format = v == "binary" ? tarvik::bench::AnswerFormat::Binary : tarvik::bench::AnswerFormat::Text;
    else if (k == "--request")
      o.request = v;
    else {
      std::fprintf(stderr, "unknown option %s\n", k.c_str());
      return 2;
    }
  }
  if (o.port == 0) {
    std::fprintf(stderr,
                 "usage: tarvik-load --port P [--host H] [--clients N] [--seconds S] [--idle M] "
                 "[--messages K] [--format binary|ascii|xml] [--request TEXT]\n");
    return 2;
  }
  tarvik::bench::LoadResult r = tarvik::bench::RunLoad(o);
  std::printf("%s\n", tarvik::bench::Describe(o, r).c_str());
  return r.error.empty() && r.failures == 0 ? 0 : 1;
}
