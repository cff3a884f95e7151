// The INI rules over arbitrary contents, in memory: reading any key must not
// fault, values stay within the reader's buffer, a value written is read back
// unchanged while the other keys keep their values and no section is lost,
// and unsafe names are refused. Inputs of every sixteenth length also go
// through the file layer.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzFile.h"
#include "runtime/CFileIni.h"
#include "runtime/IniText.h"

namespace {

constexpr const char* kSections[] = {"Settings", "1021", " configurations "};
constexpr const char* kKeys[] = {"PORTNUM", "ActiveMessages", "Configuration1"};

void CheckText(std::string_view content) {
  const tarvik::IniText text(content);
  std::optional<std::string> before[3][3];
  for (int s = 0; s < 3; ++s)
    for (int k = 0; k < 3; ++k) {
      before[s][k] = text.Value(kSections[s], kKeys[k]);
      if (before[s][k] && before[s][k]->size() >= tarvik::CFileIni::ValueBufferSize) std::abort();
    }
  const auto sections = text.SectionNames();
  for (std::size_t s = 0; s < sections.size() && s < 8; ++s) (void)text.KeyNames(sections[s]);

  const auto written = text.WithValue("Settings", "TotalNumberOfRequests", "123456");
  if (!written) std::abort();  // valid names and value: always writable
  const tarvik::IniText after(*written);
  if (after.Value("Settings", "TotalNumberOfRequests") != std::optional<std::string>("123456")) std::abort();
  for (int s = 0; s < 3; ++s)
    for (int k = 0; k < 3; ++k)
      if (after.Value(kSections[s], kKeys[k]) != before[s][k]) std::abort();
  if (after.SectionNames().size() < sections.size()) std::abort();

  // Unsafe names are refused, never written.
  if (text.WithValue("Settings", "a\nb", "1") || text.WithValue("Settings", "k", "1\r2") ||
      text.WithValue("Set]tings", "k", "1") || text.WithValue("", "k", "1"))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  CheckText(content);
  if (size % 16 != 0) return 0;  // the file layer for every sixteenth length
  auto path = fuzzing::WriteScratch("fuzz.ini", data, size);
  tarvik::CFileIni ini(path);
  const std::string port = ini.ReadString("Settings", "PORTNUM");
  if (tarvik::IniText(content).Value("Settings", "PORTNUM").value_or("") != port) std::abort();
  (void)ini.ReadInt("Settings", "PORTNUM");
  (void)ini.ReadLong("Settings", "TotalNumberOfRequests");
  (void)ini.ReadDouble("Settings", "MeanGeoidHeight");
  if (!ini.WriteInt("Settings", "TotalNumberOfRequests", 123456)) return 0;
  if (ini.ReadLong("Settings", "TotalNumberOfRequests") != 123456) std::abort();
  return 0;
}
