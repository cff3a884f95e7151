#pragma once
// The record a client session thread (and the accept thread) works on.

#include <atomic>
#include <memory>
#include <string>

#include "runtime/PelEvent.h"
#include "runtime/PelSemaphore.h"
#include "runtime/TCPSocketExt.h"

namespace tarvik {

class ISessionHost;  // the transformation module as the server sees it

struct PelThreadArgument {
  PelThreadArgument() : event(std::make_unique<PelEvent>()) {}
  PelThreadArgument(const PelThreadArgument&) = delete;
  PelThreadArgument& operator=(const PelThreadArgument&) = delete;

  PelSemaphore* semaphore = nullptr;     // the configuration's lock
  std::unique_ptr<TCPSocketExt> socket;  // client connection (listening socket for the server's own)
  std::string name;                      // client name: host, "-", running number
  std::string address;                   // client's dotted IPv4 address
  void* mainWindow = nullptr;            // absent on this platform
  std::unique_ptr<PelEvent> event;       // signalled when the session ends
  std::atomic<int> finished{0};          // set to 1 when the session ends
  int number = 0;                        // client's running number
  PelThreadArgument* parent = nullptr;   // the server's own argument (none for the server's)
  ISessionHost* module = nullptr;        // the transformation module
};

}  // namespace tarvik
