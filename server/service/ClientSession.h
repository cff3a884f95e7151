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

}  // namespace tarvik
