#include "runtime/PelThread.h"

#include <limits.h>

#include <cerrno>

#include "runtime/PelLog.h"
#include "runtime/SystemError.h"

namespace tarvik {

PelThread::PelThread(Routine routine, PelThreadArgument* argument, int creationFlags, std::size_t stackSize,
                     int inheritFlag)
    : routine_(std::move(routine)),
      argument_(argument),
      creationFlags_(creationFlags),
      stackSize_(stackSize),
      inheritFlag_(inheritFlag) {}

PelThread::~PelThread() {
  terminate();
  // A thread without a name belongs to no configuration: program-wide log.
  PelLog log = name_.empty() ? PelLog() : PelLog(name_);
  log.write(0, PelLogInfo, "TARVIK", "Thread exit");
}

void* PelThread::entry(void* self) {
  auto* t = static_cast<PelThread*>(self);
  int code = -1;
  try {
    code = t->routine_(t->argument_);
  } catch (...) {
    // An escaping exception would end the whole process; the thread just ends.
    code = -1;
  }
  t->exitCode_.store(code);
  return nullptr;
}

void PelThread::start() {
  if (started_) return;
  pthread_attr_t attr;
  int err = pthread_attr_init(&attr);
  if (err == 0 && stackSize_ != 0)
    err = pthread_attr_setstacksize(&attr, stackSize_ < static_cast<std::size_t>(PTHREAD_STACK_MIN)
                                               ? static_cast<std::size_t>(PTHREAD_STACK_MIN)
                                               : stackSize_);
  if (err == 0) err = pthread_create(&thread_, &attr, &PelThread::entry, this);
  pthread_attr_destroy(&attr);
  if (err != 0) ThrowSystemError("CreateThread() failed", err);
  started_ = true;
}

void PelThread::terminate() {
  if (!started_ || joined_) return;
  pthread_join(thread_, nullptr);
  joined_ = true;
}

}  // namespace tarvik
