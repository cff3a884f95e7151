#include "runtime/HostEntry.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "runtime/SocketErrors.h"

namespace tarvik {

namespace {

// Copies what the server needs out of the system's host record.
void copyRecord(const hostent& h, std::string& name, std::vector<in_addr>& addresses) {
  name = h.h_name ? h.h_name : "";
  if (h.h_addrtype != AF_INET || h.h_length != static_cast<int>(sizeof(in_addr))) return;
  for (char** a = h.h_addr_list; a && *a; ++a) {
    in_addr addr;
    std::memcpy(&addr, *a, sizeof addr);
    addresses.push_back(addr);
  }
}

}  // namespace

HostEntry::HostEntry() {
  char name[65];
  std::memset(name, 0, sizeof name);
  if (::gethostname(name, sizeof name - 1) != 0) {
    errorCode_ = WinSockErrorFromErrno(errno);
    errorText_ = SocketErrorText(SocketCall::HostByName, errorCode_);
    return;
  }
  lookupByName(name);
}

HostEntry::HostEntry(const std::string& host, int kind) {
  if (kind == ByName) {
    lookupByName(host);
  } else if (kind == ByAddress) {
    lookupByAddress(host);
  } else {
    errorCode_ = 0;
    errorText_ = "unknown host type: host name/address has to be given ";
  }
}

void HostEntry::lookupByName(const std::string& name) {
  hostent h{};
  hostent* result = nullptr;
  int herr = 0;
  std::vector<char> work(2048);
  int rc;
  while ((rc = ::gethostbyname_r(name.c_str(), &h, work.data(), work.size(), &result, &herr)) == ERANGE)
    work.resize(work.size() * 2);
  if (rc != 0 || result == nullptr) {
    errorCode_ = WinSockErrorFromHerrno(herr);
    errorText_ = SocketErrorText(SocketCall::HostByName, errorCode_);
    return;
  }
  Record r;
  copyRecord(h, r.name, r.addresses);
  record_ = std::move(r);
}

void HostEntry::lookupByAddress(const std::string& dotted) {
  in_addr addr{};
  if (::inet_pton(AF_INET, dotted.c_str(), &addr) != 1) {
    errorCode_ = 0;
    errorText_ = "Error calling inet_addr()";
    return;
  }
  hostent h{};
  hostent* result = nullptr;
  int herr = 0;
  std::vector<char> work(2048);
  int rc;
  while ((rc = ::gethostbyaddr_r(&addr, 4, AF_INET, &h, work.data(), work.size(), &result, &herr)) == ERANGE)
    work.resize(work.size() * 2);
  if (rc != 0 || result == nullptr) {
    errorCode_ = WinSockErrorFromHerrno(herr);
    errorText_ = SocketErrorText(SocketCall::HostByAddress, errorCode_);
    return;
  }
  Record r;
  copyRecord(h, r.name, r.addresses);
  record_ = std::move(r);
}

std::string HostEntry::officialName() const { return record_ ? record_->name : std::string(); }

std::vector<in_addr> HostEntry::addresses() const {
  return record_ ? record_->addresses : std::vector<in_addr>();
}

namespace {

struct LookupState {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::string name;
};

}  // namespace

std::string PeerHostName(const std::string& dottedAddress, std::chrono::milliseconds limit) {
  auto state = std::make_shared<LookupState>();
  try {
    std::thread([state, dottedAddress] {
      HostEntry host(dottedAddress, HostEntry::ByAddress);
      std::string name = host.valid() ? host.officialName() : std::string();
      std::lock_guard<std::mutex> lock(state->mutex);
      state->name = std::move(name);
      state->finished = true;
      state->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return dottedAddress;  // no thread for the look-up: the address will do
  }
  std::unique_lock<std::mutex> lock(state->mutex);
  if (!state->done.wait_for(lock, limit, [&] { return state->finished; }) || state->name.empty())
    return dottedAddress;
  return state->name;
}

}  // namespace tarvik
