#pragma once
// The control panel's access token.
//
// A fresh random token is made at every start, printed for the operator and
// stored beside the general settings file (readable by the owner only), so
// scripts on the same machine can use it. The panel accepts no API call
// without it in a request header; a page of another site open in the
// operator's browser cannot read it and so cannot act on the panel.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

// 32 lower-case hex digits from the system's random source.
std::string MakeSecurityToken();

// Writes the token into `file` (created with mode 0600, replaced when
// present). False when the file could not be written.
bool StoreSecurityToken(const std::filesystem::path& file, const std::string& token);

// Comparison whose time does not depend on where the texts differ.
bool TokensEqual(std::string_view expected, std::string_view given);

}  // namespace tarvik
