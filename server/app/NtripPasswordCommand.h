#pragma once
// "Tarvik --ntrip-passwd MOUNT:USER": sets one password in the NTRIP
// caster's users file. The password is read from a stream (standard input),
// stored only as its crypt hash, and never written anywhere else.

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>

namespace tarvik {

// Reads the password (the first line of `input`, without its line end),
// hashes it and sets the entry MOUNT:USER:HASH in `usersFile` (replacing
// that user's entry for that mount point, keeping every other line). The
// file is replaced whole and readable by its owner only. Returns 0, or 1
// with the reason written to `err`.
int SetNtripPassword(const std::filesystem::path& usersFile, const std::string& mountAndUser,
                     std::istream& input, std::ostream& out, std::ostream& err);

}  // namespace tarvik
