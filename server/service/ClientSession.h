#pragma once
// One client session: reads "*"-terminated requests from its connection and
// answers each in the configuration's response format until the client
// quits, disconnects or sends a sentence with a wrong checksum.

#include <string>

namespace tarvik {

struct PelThreadArgument;

// Thread routine of a client session; returns 1 when the session has ended
// (after signalling the argument's event and setting its finished flag). The
// connection is shut down at the end; the accept loop closes the descriptor
// when it reaps the session.
int RunClientSession(PelThreadArgument* argument);
constexpr int kSessionEnded = 1;

// Mode word answered to "getmode*" for a format code.
const char* ModeWord(int format);

// "Date: %d.%m.%Y Time: %H:%M:%S" of the current local time.
std::string SessionTimestamp();

// The log line of a receive that ended a session (reset, aborted, closed,
// wrong checksum or any other failure) and its PelLog level.
struct SessionEndLine {
  int level;
  const char* text;
};
SessionEndLine ReceiveEndLine(int receiveResult);

}  // namespace tarvik
