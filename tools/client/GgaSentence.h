#pragma once
// NMEA GGA sentences as a rover sends them.

#include <string>

namespace tarvikclient {

// Two upper-case hex digits of the exclusive-or of everything between
// "$" and "*" (or the whole text when it has neither).
std::string NmeaChecksum(const std::string& body);

// A complete "$GPGGA,...*hh" sentence for a position in decimal degrees
// (south and west negative) and an ellipsoidal height in metres. The
// altitude field gets height minus separation, so that the server, which
// adds the two, arrives at the given ellipsoidal height.
std::string MakeGga(double latitude, double longitude, double height, double separation = 0.0,
                    const std::string& utc = "");

// Prepares one line of a receiver's output for sending: strips the line end
// (left in the stream it would start the next request and disable the
// checksum test) and returns "" when the line is not a GGA sentence.
std::string GgaLineToSend(std::string line);

}  // namespace tarvikclient
