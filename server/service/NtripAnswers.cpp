#include "service/NtripAnswers.h"

#include <cstdio>

namespace tarvik {

namespace {

// The fields every HTTP answer of the caster carries.
std::string CommonFields(bool ntrip2, std::time_t now) {
  std::string f;
  if (ntrip2) f += "Ntrip-Version: Ntrip/2.0\r\n";
  f += std::string("Server: ") + kNtripServerName + "\r\n";
  f += "Date: " + HttpDate(now) + "\r\n";
  f += "Connection: close\r\n";
  return f;
}

}  // namespace

std::string HttpDate(std::time_t t) {
  std::tm gmt{};
  gmtime_r(&t, &gmt);
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[gmt.tm_wday % 7], gmt.tm_mday,
                kMonths[gmt.tm_mon % 12], gmt.tm_year + 1900, gmt.tm_hour, gmt.tm_min, gmt.tm_sec);
  return text;
}

const char* NtripReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

std::string NtripStreamStart(bool ntrip2, std::time_t now) {
  if (!ntrip2) return "ICY 200 OK\r\n";
  return "HTTP/1.1 200 OK\r\n" + CommonFields(true, now) +
         "Cache-Control: no-store, no-cache, max-age=0\r\n"
         "Pragma: no-cache\r\n"
         "Content-Type: gnss/data\r\n"
         "Transfer-Encoding: chunked\r\n"
         "\r\n";
}

std::string NtripSourceTableAnswer(bool ntrip2, int status, const std::string& table, std::time_t now) {
  const std::string length = "Content-Length: " + std::to_string(table.size()) + "\r\n";
  if (!ntrip2)
    return std::string("SOURCETABLE 200 OK\r\nServer: ") + kNtripServerName +
           "\r\nContent-Type: text/plain\r\n" + length + "\r\n" + table;
  return "HTTP/1.1 " + std::to_string(status) + " " + NtripReasonPhrase(status) + "\r\n" +
         CommonFields(true, now) + "Content-Type: gnss/sourcetable\r\n" + length + "\r\n" + table;
}

std::string NtripBadPassword() { return "ERROR - Bad Password\r\n"; }

std::string NtripHttpRefusal(std::string_view version, bool ntrip2, int status, std::string_view extraFields,
                             std::time_t now) {
  const std::string reason = NtripReasonPhrase(status);
  const std::string body = std::to_string(status) + " " + reason + "\r\n";
  return std::string(version) + " " + std::to_string(status) + " " + reason + "\r\n" +
         CommonFields(ntrip2, now) + std::string(extraFields) +
         "Content-Type: text/plain\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string NtripChunk(std::string_view data) {
  char size[20];
  std::snprintf(size, sizeof size, "%zX\r\n", data.size());
  std::string chunk = size;
  chunk.append(data);
  chunk += "\r\n";
  return chunk;
}

}  // namespace tarvik
