// tarvik-client: a rover's view of a Tarvik server.
//
// Connects to HOST PORT, sends GGA sentences (built from a position given on
// the command line, or relayed from standard input as a receiver would write
// them) and raw texts, and prints every reply: texts as they come, RTCM 3
// frames checked with CRC-24Q and decoded field by field with units.
// With --ntrip it is an NTRIP rover of the caster instead: it asks for a
// mount point and sends its GGA lines into the stream.

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "GgaSentence.h"
#include "NtripClient.h"
#include "ReplyScanner.h"
#include "RoverTransformation.h"

using namespace tarvikclient;

namespace {

const char* kUsage =
    "usage: tarvik-client HOST PORT [options]\n"
    "  --lat DEG --lon DEG    send a GGA sentence for this position (south/west negative)\n"
    "  --height M             ellipsoidal height of the position (default 200)\n"
    "  --sep M                geoidal separation written into the sentence (default 0)\n"
    "  --repeat N             send the position N times (default 1)\n"
    "  --send TEXT            send TEXT as it is (e.g. getmode* or quit*); may repeat\n"
    "  --stdin                relay the GGA lines of standard input\n"
    "  --wait MS              quiet time that ends the replies to one request (default 1500)\n"
    "  --expect N             replies per request; go on as soon as N arrived\n"
    "  --no-quit              do not send quit* at the end\n"
    "  --hex                  also print every frame's bytes\n"
    "  --apply                apply the received 1021/1023/1025 to the position as a rover\n"
    "                         does and print its target latitude, longitude, height,\n"
    "                         easting and northing\n"
    "  --ntrip MOUNT          be an NTRIP rover: PORT is the caster's, ask for MOUNT and\n"
    "                         send every sentence as a line (CR LF) into the stream\n"
    "  --user USER:PASSWORD   credentials for the mount point (Basic authentication)\n"
    "  --ntrip-version 1|2    NTRIP version to speak (default 2: HTTP/1.1, chunked)\n"
    "Exit status: 0 fine, 1 usage or connection failure, 2 a damaged frame arrived,\n"
    "3 the server closed the connection, 4 the caster did not start a stream (its\n"
    "answer, e.g. the source table, is printed).\n";

struct Options {
  std::string host, port;
  std::vector<std::string> items;  // texts to send, in order
  bool relayStdin = false;
  int waitMs = 1500;
  int expect = 0;
  bool quit = true;
  bool hex = false;
  bool apply = false;
  bool havePosition = false;
  double lat = 0, lon = 0, height = 0;
  std::string ntripMount;  // NTRIP rover when set
  std::string ntripUser;
  bool ntrip2 = true;
};

bool ParseArgs(int argc, char** argv, Options& o) {
  if (argc < 3) return false;
  o.host = argv[1];
  o.port = argv[2];
  bool haveLat = false, haveLon = false;
  double lat = 0, lon = 0, height = 200, sep = 0;
  int repeat = 1;
  std::vector<std::string> raw;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](const char*& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (a == "--lat" && next(v)) {
      lat = std::atof(v);
      haveLat = true;
    } else if (a == "--lon" && next(v)) {
      lon = std::atof(v);
      haveLon = true;
    } else if (a == "--height" && next(v))
      height = std::atof(v);
    else if (a == "--sep" && next(v))
      sep = std::atof(v);
    else if (a == "--repeat" && next(v))
      repeat = std::atoi(v);
    else if (a == "--send" && next(v))
      raw.push_back(v);
    else if (a == "--wait" && next(v))
      o.waitMs = std::atoi(v);
    else if (a == "--expect" && next(v))
      o.expect = std::atoi(v);
    else if (a == "--stdin")
      o.relayStdin = true;
    else if (a == "--no-quit")
      o.quit = false;
    else if (a == "--hex")
      o.hex = true;
    else if (a == "--apply")
      o.apply = true;
    else if (a == "--ntrip" && next(v))
      o.ntripMount = v;
    else if (a == "--user" && next(v))
      o.ntripUser = v;
    else if (a == "--ntrip-version" && next(v) && (std::string(v) == "1" || std::string(v) == "2"))
      o.ntrip2 = std::string(v) == "2";
    else
      return false;
  }
  if (haveLat != haveLon) return false;
  if (!o.ntripUser.empty() && (o.ntripMount.empty() || o.ntripUser.find(':') == std::string::npos))
    return false;
  if (!o.ntripMount.empty()) o.quit = false;  // a stream has no commands
  if (o.apply && !haveLat) return false;
  o.havePosition = haveLat;
  o.lat = lat;
  o.lon = lon;
  o.height = height;
  if (haveLat)
    for (int r = 0; r < repeat; ++r) o.items.push_back(MakeGga(lat, lon, height, sep));
  o.items.insert(o.items.end(), raw.begin(), raw.end());
  if (o.items.empty() && !o.relayStdin) return false;
  return true;
}

int Connect(const Options& o) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(o.host.c_str(), o.port.c_str(), &hints, &list);
  if (rc != 0) {
    std::fprintf(stderr, "tarvik-client: %s: %s\n", o.host.c_str(), gai_strerror(rc));
    return -1;
  }
  int fd = -1;
  for (addrinfo* a = list; a; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) break;
    close(fd);
    fd = -1;
  }
  freeaddrinfo(list);
  if (fd < 0)
    std::fprintf(stderr, "tarvik-client: cannot connect to %s:%s: %s\n", o.host.c_str(), o.port.c_str(),
                 std::strerror(errno));
  return fd;
}

bool SendAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Sends the request for the mount point and reads the caster's answer head.
// True when the stream starts; the bytes after the head are left in
// `rest`. Otherwise the whole answer is printed (a refusal or the source
// table).
bool StartNtripStream(int fd, const Options& o, NtripAnswerHead& head, std::string& rest) {
  const std::string request = NtripRequest(o.host, o.ntripMount, o.ntripUser, o.ntrip2);
  std::printf("> GET /%s (NTRIP %s%s)\n", o.ntripMount.c_str(), o.ntrip2 ? "2.0" : "1.0",
              o.ntripUser.empty() ? "" : ", with credentials");
  std::fflush(stdout);
  if (!SendAll(fd, request)) return false;
  std::string received;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    head = ReadNtripAnswerHead(received);
    if (head.complete && head.stream) {
      std::printf("< %s\n", head.statusLine.c_str());
      rest = received.substr(head.length);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    received.append(buf, static_cast<std::size_t>(n));
  }
  std::fwrite(received.data(), 1, received.size(), stdout);
  if (!received.empty() && received.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
  return false;
}

class Printer {
 public:
  explicit Printer(bool hex) : hex_(hex) {}
  // Prints the replies; returns how many replies were completed.
  int Print(const std::vector<Reply>& replies) {
    int completed = 0;
    for (const auto& r : replies) {
      if (!r.isFrame) {
        // Every text reply ends with "*": a line break after it keeps
        // the next reply on a line of its own.
        for (char c : r.text) {
          std::fputc(c, stdout);
          if (c == '*') {
            std::fputc('\n', stdout);
            ++completed;
          }
        }
        midText_ = !r.text.empty() && r.text.back() != '*';
      } else {
        const Frame& f = r.frame;
        if (midText_) std::fputc('\n', stdout);
        midText_ = false;
        std::fputs(FormatFrame(f).c_str(), stdout);
        if (hex_ && f.crcOk) {
          std::fputs("  bytes:", stdout);
          for (auto b : f.bytes) std::printf(" %02X", b);
          std::fputc('\n', stdout);
        }
        if (!f.crcOk || !f.message.problems.empty()) damaged_ = true;
        if (f.crcOk) messages_.push_back(f.message);
        ++completed;
      }
    }
    std::fflush(stdout);
    return completed;
  }
  // Text without "*" (the bare error of an unknown request) ends a reply
  // only when the stream falls quiet.
  void Quiet() {
    if (midText_) std::fputc('\n', stdout);
    midText_ = false;
    std::fflush(stdout);
  }
  bool Damaged() const { return damaged_; }
  // The messages of the current request.
  const std::vector<DecodedMessage>& Messages() const { return messages_; }
  void NewRequest() { messages_.clear(); }

 private:
  std::vector<DecodedMessage> messages_;
  bool hex_;
  bool midText_ = false;
  bool damaged_ = false;
};

using Clock = std::chrono::steady_clock;

// What a rover makes of the messages at the position it sent.
void PrintApplied(const Options& o, const std::vector<DecodedMessage>& messages) {
  const DecodedMessage *m1021 = nullptr, *m1023 = nullptr, *m1025 = nullptr;
  for (const DecodedMessage& m : messages) {
    if (m.number == 1021) m1021 = &m;
    if (m.number == 1023) m1023 = &m;
    if (m.number == 1025) m1025 = &m;
  }
  RoverMessages rover;
  RoverPosition out;
  std::string error;
  if (m1021 == nullptr || m1023 == nullptr) {
    std::printf("rover: no 1021 and 1023 frames to apply\n");
  } else if (!ReadMessages(*m1021, *m1023, m1025, rover, error) ||
             !ApplyMessages(rover, o.lat, o.lon, o.height, out, error)) {
    std::printf("rover: %s\n", error.c_str());
  } else {
    std::printf("rover: source %.9f %.9f %.3f\n", o.lat, o.lon, o.height);
    std::printf("rover: target latitude %.9f deg, longitude %.9f deg\n", out.lat, out.lon);
    std::printf("rover: target height %.3f m (ellipsoidal on the target ellipsoid %.3f m)\n", out.height,
                out.ellipsoidalHeight);
    if (out.projected) std::printf("rover: easting %.3f m, northing %.3f m\n", out.easting, out.northing);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  int fd = Connect(o);
  if (fd < 0) return 1;

  ReplyScanner scanner;
  Printer printer(o.hex);
  const bool ntrip = !o.ntripMount.empty();
  NtripAnswerHead ntripHead;
  ChunkedDecoder chunks;
  bool brokenChunks = false;
  // Bytes of the stream, taken out of their chunks for NTRIP 2.0.
  auto streamBytes = [&](const std::uint8_t* data, std::size_t size) {
    if (!ntrip || !ntripHead.chunked) return std::vector<std::uint8_t>(data, data + size);
    std::vector<std::uint8_t> out = chunks.Feed(data, size);
    if (chunks.Failed() && !brokenChunks) {
      std::fprintf(stderr, "tarvik-client: the caster's chunked stream is broken\n");
      brokenChunks = true;
    }
    return out;
  };
  if (ntrip) {
    std::string rest;
    if (!StartNtripStream(fd, o, ntripHead, rest)) {
      close(fd);
      return 4;
    }
    const auto bytes = streamBytes(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
    printer.Print(scanner.Feed(bytes.data(), bytes.size()));
  }
  std::size_t nextItem = 0;
  bool stdinOpen = o.relayStdin;
  bool closedByServer = false;
  bool awaiting = false;  // replies to the last request still coming
  int repliesSeen = 0;
  auto lastActivity = Clock::now();
  std::string stdinLine;

  auto sendText = [&](const std::string& text) {
    std::printf("> %s\n", text.c_str());
    std::fflush(stdout);
    if (!SendAll(fd, ntrip ? text + "\r\n" : text)) {
      std::fprintf(stderr, "tarvik-client: send failed: %s\n", std::strerror(errno));
      return false;
    }
    awaiting = true;
    printer.NewRequest();
    repliesSeen = 0;
    lastActivity = Clock::now();
    return true;
  };

  while (true) {
    if (!awaiting && nextItem < o.items.size()) {
      if (!sendText(o.items[nextItem++])) break;
      continue;
    }
    if (!awaiting && nextItem >= o.items.size() && !stdinOpen) break;

    pollfd fds[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    // Stdin waits until the command-line items are done.
    nfds_t count = (stdinOpen && nextItem >= o.items.size()) ? 2 : 1;
    int timeout = -1;
    if (awaiting) {
      auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity);
      timeout = std::max(0, o.waitMs - static_cast<int>(elapsed.count()));
    }
    int n = poll(fds, count, timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) {  // quiet: the replies to the last request are over
      printer.Quiet();
      awaiting = false;
      if (o.apply) PrintApplied(o, printer.Messages());
      continue;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      std::uint8_t buf[4096];
      ssize_t got = recv(fd, buf, sizeof buf, 0);
      if (got <= 0) {
        printer.Print(scanner.Finish());
        printer.Quiet();
        std::fprintf(stderr, "tarvik-client: connection closed by the server\n");
        closedByServer = true;
        break;
      }
      const auto bytes = streamBytes(buf, static_cast<std::size_t>(got));
      repliesSeen += printer.Print(scanner.Feed(bytes.data(), bytes.size()));
      lastActivity = Clock::now();
      if (awaiting && o.expect > 0 && repliesSeen >= o.expect) {
        awaiting = false;
        if (o.apply) PrintApplied(o, printer.Messages());
      }
    }
    if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP))) {
      char buf[1024];
      ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
      if (got <= 0) {
        stdinOpen = false;
        if (!stdinLine.empty()) {
          std::string s = GgaLineToSend(stdinLine);
          stdinLine.clear();
          if (!s.empty()) o.items.push_back(s);
        }
        continue;
      }
      stdinLine.append(buf, static_cast<std::size_t>(got));
      std::size_t eol;
      // Queued: each request is sent once the replies to the one
      // before are complete, so replies never mix.
      while ((eol = stdinLine.find('\n')) != std::string::npos) {
        std::string s = GgaLineToSend(stdinLine.substr(0, eol));
        stdinLine.erase(0, eol + 1);
        if (!s.empty()) o.items.push_back(s);
      }
    }
  }

  if (!closedByServer && o.quit) {
    std::printf("> quit*\n");
    SendAll(fd, "quit*");
  }
  close(fd);
  if (printer.Damaged() || brokenChunks) return 2;
  if (closedByServer) return 3;
  return 0;
}
