// The INI reader over arbitrary file contents: reading any key must not
// fault, values stay within the reader's buffer, and a value written is
// read back unchanged while the other keys keep their values.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzFile.h"
#include "runtime/CFileIni.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto path = fuzzing::WriteScratch("fuzz.ini", data, size);
    tarvik::CFileIni ini(path);
    static const char* sections[] = {"Settings", "1021", " configurations "};
    static const char* keys[] = {"PORTNUM", "ActiveMessages", "Configuration1"};
    std::string before[3][3];
    for (int s = 0; s < 3; ++s)
        for (int k = 0; k < 3; ++k) {
            before[s][k] = ini.ReadString(sections[s], keys[k]);
            if (before[s][k].size() >= tarvik::CFileIni::ValueBufferSize) std::abort();
        }
    (void)ini.ReadInt("Settings", "PORTNUM");
    (void)ini.ReadLong("Settings", "TotalNumberOfRequests");
    (void)ini.ReadDouble("Settings", "MeanGeoidHeight");
    if (!ini.WriteInt("Settings", "TotalNumberOfRequests", 123456)) return 0;
    if (ini.ReadLong("Settings", "TotalNumberOfRequests") != 123456) std::abort();
    for (int s = 0; s < 3; ++s)
        for (int k = 0; k < 3; ++k)
            if (ini.ReadString(sections[s], keys[k]) != before[s][k]) std::abort();
    return 0;
}
