#pragma once
// What the caster sends back: the start of a data stream, the source table,
// refusals, and the chunks of an NTRIP 2.0 stream.

#include <ctime>
#include <string>
#include <string_view>

namespace tarvik {

// Value of the Server field.
constexpr const char* kNtripServerName = "NTRIP Tarvik/1.0";

// Start of a stream. NTRIP 1.0: "ICY 200 OK" and nothing else, the RTCM
// bytes follow at once (clients pass whatever follows that line on as
// data). NTRIP 2.0: an HTTP/1.1 200 head with gnss/data in chunked transfer
// encoding.
std::string NtripStreamStart(bool ntrip2, std::time_t now);

// The source table as an answer: "SOURCETABLE 200 OK" (1.0) or HTTP/1.1
// with status 200 or 404 and the type gnss/sourcetable (2.0).
std::string NtripSourceTableAnswer(bool ntrip2, int status, const std::string& table, std::time_t now);

// NTRIP 1.0's refusal of credentials: "ERROR - Bad Password".
std::string NtripBadPassword();

// An HTTP refusal with a short text body: `version` is the client's
// ("HTTP/1.0" or "HTTP/1.1"), `extraFields` whole field lines (each ending
// in CR LF) such as WWW-Authenticate or Allow.
std::string NtripHttpRefusal(std::string_view version, bool ntrip2, int status, std::string_view extraFields,
                             std::time_t now);

// The reason phrase of the statuses the caster sends.
const char* NtripReasonPhrase(int status);

// One chunk of chunked transfer encoding: size in hex, CR LF, the bytes,
// CR LF. Empty data gives the last chunk "0" CR LF CR LF.
std::string NtripChunk(std::string_view data);

// "Date" value: RFC 1123 time in GMT.
std::string HttpDate(std::time_t t);

}  // namespace tarvik
