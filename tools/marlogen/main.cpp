// marlogen: writes a Marlo database for the demo region.
//   marlogen [--uniform | --zero] [--columns N] [--rows N] [--points N] OUTPUT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "MarloGenerator.h"

int main(int argc, char** argv) {
  marlogen::Options options;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](int& target) {
      if (i + 1 >= argc) return false;
      target = std::atoi(argv[++i]);
      return target > 0 && target <= 1000;
    };
    if (arg == "--uniform") {
      options.mode = marlogen::Options::Mode::Uniform;
    } else if (arg == "--zero") {
      options.mode = marlogen::Options::Mode::Zero;
    } else if (arg == "--columns") {
      if (!value(options.meshColumns)) return 2;
    } else if (arg == "--rows") {
      if (!value(options.meshRows)) return 2;
    } else if (arg == "--points") {
      if (!value(options.pointsPerArea)) return 2;
    } else if (!arg.empty() && arg[0] != '-' && output == nullptr) {
      output = argv[i];
    } else {
      std::fprintf(stderr,
                   "usage: marlogen [--uniform|--zero] [--columns N] [--rows N] "
                   "[--points N] OUTPUT\n");
      return 2;
    }
  }
  if (output == nullptr) {
    std::fprintf(stderr, "marlogen: no output file given\n");
    return 2;
  }
  std::ofstream out(output, std::ios::binary);
  out << marlogen::GenerateDatabase(options);
  out.close();
  if (!out) {
    std::fprintf(stderr, "marlogen: cannot write %s\n", output);
    return 1;
  }
  return 0;
}
