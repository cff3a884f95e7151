// Tarvik: transformation message server.
#include <string>
#include <vector>

#include "app/CTarvikApp.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  tarvik::CTarvikApp app(tarvik::MakeTransformationModuleFactory);
  return app.Run(args);
}
