// Execute for one GGA request (plan code 1, each height code) and the
// creation of each format's responses, on a configuration folder laid out in
// a temporary program folder with the demo Marlo database; and Execute on
// DemoGermany's database (BETA2007, 5 285 areas with 16 support points
// each, interpolation on) where tools/make_demo_home.sh has built it into
// the build folder's demo-data/germany/.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "app/CTarvikSettings.h"
#include "module/CRTCMTransformationMessageModule.h"
#include "module/DemoData.h"
#include "runtime/ProgramFolder.h"
#include "service/RTCMMessageRequest.h"
#include "service/RequestAnswer.h"
#include "service/Responses.h"

namespace {

using namespace tarvik;
namespace fs = std::filesystem;

// Every optional field present, so parsing writes no warning into the log.
constexpr const char* kGGA = "$GPGGA,123519,4742.000,N,01454.000,E,1,08,0.9,545.4,M,46.9,M,1.0,0001*";

// One program folder for the whole run, with one configuration per height code.
class Home {
 public:
  Home() {
    home_ = fs::temp_directory_path() / ("tarvik_bench_module_" + std::to_string(::getpid()));
    fs::remove_all(home_);
    for (const char* d : {"data/marlo", "data/orvel", "data/geoid", "Configs"})
      fs::create_directories(home_ / d);
    SetProgramFolder(home_);
    fs::copy_file(testing::DemoMarloDatabase(), home_ / "data/marlo/Demo.mdb");
    testing::WriteDemoGeoidGrid(home_ / "data/geoid/Demo.grd");
    testing::WriteDemoOrvelGrid(home_ / "data/orvel/Demo.orv");
    general_.ProgramDirectory = home_;
    general_.SapenDBPath = (home_ / "data/marlo").string();
    general_.OrvelDBPath = (home_ / "data/orvel").string();
    general_.GeoidGridPath = (home_ / "data/geoid").string();
  }
  ~Home() {
    modules_.clear();
    germany_.reset();
    SetProgramFolder({});
    fs::remove_all(home_);
  }

  // DemoGermany as the demo folder configures it, or nullptr when its
  // database has not been built.
  CRTCMTransformationMessageModule* Germany() {
    if (germany_) return germany_.get();
    const fs::path built = ExecutableFolder().parent_path() / "demo-data" / "germany";
    const fs::path ini = fs::path(__FILE__).parent_path().parent_path().parent_path() /
                         "demo/home/Configs/DemoGermany/DemoGermany.ini";
    if (!fs::exists(built / "germany_beta2007.mdb") || !fs::exists(built / "germany_egm96.orvel") ||
        !fs::exists(ini))
      return nullptr;
    fs::copy_file(built / "germany_beta2007.mdb", home_ / "data/marlo/germany_beta2007.mdb");
    fs::copy_file(built / "germany_egm96.orvel", home_ / "data/orvel/germany_egm96.orvel");
    fs::create_directories(home_ / "Configs" / "DemoGermany");
    fs::copy_file(ini, home_ / "Configs" / "DemoGermany" / "DemoGermany.ini");
    germany_ =
        std::make_unique<CRTCMTransformationMessageModule>("DemoGermany", home_ / "Configs" / "DemoGermany");
    germany_->ReadConfiguration(general_);
    return germany_.get();
  }

  CRTCMTransformationMessageModule& Module(int heightCode) {
    auto& m = modules_[heightCode];
    if (m) return *m;
    static const std::map<int, std::pair<std::string, std::string>> types = {{1, {"SAPEN_DB", ""}},
                                                                             {2, {"ORVEL_DB", "Demo.orv"}},
                                                                             {3, {"ORVEL_DB2", "Demo.orv"}},
                                                                             {4, {"GEOIDGRID", "Demo.grd"}}};
    const std::string name = "Bench" + std::to_string(heightCode);
    std::string ini = testing::BaseModuleIni();
    auto replace = [&](const std::string& key, const std::string& value) {
      auto at = ini.find("\n" + key + "=");
      ini.replace(at + 1, ini.find('\n', at + 1) - at - 1, key + "=" + value);
    };
    replace("HeightType", types.at(heightCode).first);
    replace("HeightDB", types.at(heightCode).second);
    fs::create_directories(home_ / "Configs" / name);
    std::ofstream(home_ / "Configs" / name / (name + ".ini")) << ini;
    m = std::make_unique<CRTCMTransformationMessageModule>(name, home_ / "Configs" / name);
    m->ReadConfiguration(general_);
    return *m;
  }

 private:
  fs::path home_;
  CTarvikSettings general_;
  std::map<int, std::unique_ptr<CRTCMTransformationMessageModule>> modules_;
  std::unique_ptr<CRTCMTransformationMessageModule> germany_;
};

Home& TheHome() {
  static Home home;
  return home;
}

// Parse + Execute of one request, as the handlers run them.
void BM_Execute(benchmark::State& state) {
  auto& module = TheHome().Module(static_cast<int>(state.range(0)));
  if (!module.ModuleValid()) {
    state.SkipWithError(module.ModuleProblems().c_str());
    return;
  }
  for (auto _ : state) {
    RTCMMessageRequest r;
    r.SetConfiguration(module.Settings());
    r.Parse(kGGA);
    int result = r.Execute();
    if (result != 1) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(r.gridPoints.data());
  }
}
BENCHMARK(BM_Execute)->ArgName("height")->Arg(1)->Arg(2)->Arg(3)->Arg(4);

// Parse + Execute on DemoGermany: rover positions spread over Germany, one
// per iteration (heights from EGM96 through OrvelMan4).
void BM_ExecuteGermany(benchmark::State& state) {
  CRTCMTransformationMessageModule* module = TheHome().Germany();
  if (module == nullptr) {
    state.SkipWithError("no DemoGermany database: run tools/make_demo_home.sh with four ports first");
    return;
  }
  if (!module->ModuleValid()) {
    state.SkipWithError(module->ModuleProblems().c_str());
    return;
  }
  // Positions on a lattice across the country, in the GGA form.
  std::vector<std::string> sentences;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      const double lat = 47.6 + i * 0.95, lon = 6.2 + j * 1.15;
      std::ostringstream gga;
      gga.setf(std::ios::fixed);
      gga.precision(4);
      gga << "$GPGGA,123519," << static_cast<int>(lat) * 100 + (lat - static_cast<int>(lat)) * 60 << ",N,"
          << static_cast<int>(lon) * 100 + (lon - static_cast<int>(lon)) * 60
          << ",E,1,08,0.9,245.4,M,46.9,M,1.0,0001*";
      sentences.push_back(gga.str());
    }
  std::size_t next = 0;
  for (auto _ : state) {
    RTCMMessageRequest r;
    r.SetConfiguration(module->Settings());
    r.Parse(sentences[next]);
    next = (next + 1) % sentences.size();
    if (r.Execute() != 1) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(r.gridPoints.data());
  }
}
BENCHMARK(BM_ExecuteGermany);

// The whole answer in each format (parse, execute, responses), as a session
// gets it (the names are kept so that figures stay comparable over time).
template <typename Response,
          int (*Answer)(const std::string&, std::vector<Response>&, CConfigurationSettings&, int*)>
void BM_Handle(benchmark::State& state) {
  auto& module = TheHome().Module(4);
  std::vector<Response> responses;
  for (auto _ : state) {
    responses.clear();
    auto compute = module.ComputeLock();
    Answer(kGGA, responses, module.Settings(), nullptr);
    benchmark::DoNotOptimize(responses.data());
  }
}
BENCHMARK(BM_Handle<CRTCMASCIIResponse, &AnswerInASCII>)->Name("BM_HandleASCII");
BENCHMARK(BM_Handle<CRTCMXMLResponse, &AnswerInXML>)->Name("BM_HandleXML");
BENCHMARK(BM_Handle<CRTCMBinaryResponse, &AnswerInBinary>)->Name("BM_HandleBinary");

// Response creation alone for an executed request.
void BM_Responses(benchmark::State& state) {
  auto& module = TheHome().Module(4);
  RTCMMessageRequest r;
  r.SetConfiguration(module.Settings());
  r.Parse(kGGA);
  r.Execute();
  for (auto _ : state) {
    switch (state.range(0)) {
      case 1: {
        std::vector<CRTCMASCIIResponse> list;
        r.CreateASCIIResponses(list);
        benchmark::DoNotOptimize(list.data());
        break;
      }
      case 2: {
        std::vector<CRTCMBinaryResponse> list;
        r.CreateBinaryResponses(list);
        benchmark::DoNotOptimize(list.data());
        break;
      }
      default: {
        std::vector<CRTCMXMLResponse> list;
        r.CreateXMLResponses(list);
        benchmark::DoNotOptimize(list.data());
      }
    }
  }
}
BENCHMARK(BM_Responses)->ArgName("format")->Arg(1)->Arg(2)->Arg(3);

}  // namespace
