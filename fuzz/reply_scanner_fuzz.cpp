// The rover client's reply scanner over arbitrary server output: feeding
// the bytes at once or in two pieces gives the same frames and text, and
// nothing received is lost.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ReplyScanner.h"

namespace {

std::string Flatten(const std::vector<tarvikclient::Reply>& replies) {
  std::string out;
  for (const auto& r : replies) {
    if (r.isFrame) {
      out += "[frame " + std::to_string(r.frame.bytes.size()) + (r.frame.crcOk ? " ok]" : " bad]");
      if (r.frame.crcOk) (void)tarvikclient::FormatFrame(r.frame);
    } else {
      out += r.text;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t cut = data[0] % size;
  data += 1;
  size -= 1;
  tarvikclient::ReplyScanner whole, split;
  auto a = whole.Feed(data, size);
  auto tailA = whole.Finish();
  a.insert(a.end(), tailA.begin(), tailA.end());
  auto b = split.Feed(data, std::min(cut, size));
  auto b2 = split.Feed(data + std::min(cut, size), size - std::min(cut, size));
  b.insert(b.end(), b2.begin(), b2.end());
  auto tailB = split.Finish();
  b.insert(b.end(), tailB.begin(), tailB.end());
  if (Flatten(a) != Flatten(b)) std::abort();
  return 0;
}
