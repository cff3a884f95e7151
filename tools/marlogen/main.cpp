// marlogen: writes a Marlo database for the demo region.
//   marlogen [--uniform | --zero] [--columns N] [--rows N] [--points N] [--support N] OUTPUT
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
    } else if (arg == "--support") {
      if (!value(options.supportPointsPerArea)) return 2;
    } else if (!arg.empty() && arg[0] != '-' && output == nullptr) {
      output = argv[i];
    } else {
      std::fprintf(stderr,
                   "usage: marlogen [--uniform|--zero] [--columns N] [--rows N] "
                   "[--points N] [--support N] OUTPUT\n");
      return 2;
    }
  }
  if (output == nullptr) {
    std::fprintf(stderr, "marlogen: no output file given\n");
    return 2;
  }
  marlogen::GenerationReport report;
  const std::string text = marlogen::GenerateDatabase(options, &report);
  if (text.empty()) {
    std::fprintf(stderr,
                 "marlogen: the support points cannot be computed (PelProjection.so beside the program?)\n");
    return 1;
  }
  std::ofstream out(output, std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "marlogen: cannot write %s\n", output);
    return 1;
  }
  if (options.mode == marlogen::Options::Mode::Demo)
    std::printf("marlogen: %s, support points fitted to the demo transformation within %.3f mm\n", output,
                report.supportMisfitMax * 1000.0);
  return 0;
}
