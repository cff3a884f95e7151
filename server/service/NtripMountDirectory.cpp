#include "service/NtripMountDirectory.h"

#include <algorithm>

namespace tarvik {

std::string NtripMountDirectory::add(INtripMount& mount) {
  const NtripMountState added = mount.ntripState();
  std::lock_guard<std::mutex> g(mutex_);
  std::string holder;
  for (INtripMount* m : mounts_) {
    if (m == &mount) return {};
    const NtripMountState s = m->ntripState();
    if (holder.empty() && !added.mountPoint.empty() && s.mountPoint == added.mountPoint)
      holder = s.configuration;
  }
  mounts_.push_back(&mount);
  return holder;
}

void NtripMountDirectory::remove(INtripMount& mount) {
  std::lock_guard<std::mutex> g(mutex_);
  mounts_.erase(std::remove(mounts_.begin(), mounts_.end(), &mount), mounts_.end());
}

std::vector<NtripMountState> NtripMountDirectory::states() const {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<NtripMountState> list;
  for (INtripMount* m : mounts_) list.push_back(m->ntripState());
  return list;
}

bool NtripMountDirectory::withMount(const std::string& mountPoint,
                                    const std::function<void(INtripMount&, const NtripMountState&)>& use) {
  if (mountPoint.empty()) return false;
  std::lock_guard<std::mutex> g(mutex_);
  for (INtripMount* m : mounts_) {
    const NtripMountState s = m->ntripState();
    if (s.mountPoint != mountPoint) continue;
    use(*m, s);
    return true;
  }
  return false;
}

}  // namespace tarvik
