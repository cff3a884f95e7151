// Accuracy of the whole chain on real data (not a timing benchmark): random
// rover positions inside BETA2007's coverage sent to a running DemoGermany,
// the messages applied as a rover does, compared with PROJ (ETRS89 to DHDN
// with BETA2007.gsb, Gauss-Krueger zone 3, EGM96 heights), and split into
// the database against PROJ and the rover against the database.
//
//   bench_germany_accuracy [COUNT (default 10000)] [SEED]

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "GermanyAccuracy.h"
#include "TarvikProcess.h"

using namespace e2etest;

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 20261208u;
  GermanyAccuracy accuracy;
  std::string why;
  if (!accuracy.OracleReady(why)) {
    std::fprintf(stderr, "bench_germany_accuracy: %s\n", why.c_str());
    return 1;
  }
  DemoHome home(true);
  const auto database = home.Path() / "data" / "marlo" / "germany_beta2007.mdb";
  const auto heightGrid = home.Path() / "data" / "orvel" / "germany_egm96.orvel";
  if (!home.Ok() || !accuracy.LoadDatabase(database.string(), heightGrid.string(), why)) {
    std::fprintf(stderr, "bench_germany_accuracy: no DemoGermany database (%s)\n", why.c_str());
    return 1;
  }
  TarvikProcess server(home.Path(), {home.GermanyPort()});
  if (!server.Running()) {
    std::fprintf(stderr, "bench_germany_accuracy: Tarvik did not start:\n%s\n", server.Output().c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const AccuracyErrors e = accuracy.Run(home.GermanyPort(), count, seed);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d rover positions (%d failed) in %.1f s\n", count, e.failedRequests, seconds);
  for (const std::string& f : e.failures) std::printf("  failure: %s\n", f.c_str());
  std::printf("%-38s %8s %8s %8s   %s\n", "millimetres", "p50", "p95", "max", "max at");
  const struct {
    const char* name;
    const std::vector<double>* values;
    const WorstPosition* worst;
  } rows[] = {{"horizontal (a) database against PROJ", &e.databaseVsProj, &e.worstDatabase},
              {"horizontal (b) rover against database", &e.roverVsDatabase, &e.worstRover},
              {"horizontal, rover (E,N) against PROJ", &e.roverVsProj, &e.worstTotal},
              {"height (a) height grid against PROJ", &e.heightGridVsProj, &e.worstHeightGrid},
              {"height (b) rover against height grid", &e.roverHeightVsGrid, &e.worstRoverHeight},
              {"height, rover against PROJ", &e.heightVsProj, &e.worstHeight}};
  for (const auto& r : rows) {
    const Percentiles p = Summarise(*r.values);
    std::printf("%-38s %8.2f %8.2f %8.2f   %.5f %.5f\n", r.name, p.p50, p.p95, p.max, r.worst->lat,
                r.worst->lon);
  }
  return e.failedRequests == 0 ? 0 : 1;
}
