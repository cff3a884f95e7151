#pragma once
// Splitting what a connection received into frames and texts.

#include <string>
#include <vector>

#include "ReplyScanner.h"

namespace e2etest {

struct Replies {
  std::vector<tarvikclient::Frame> frames;
  std::vector<std::string> texts;  // each up to and including its "*"
  std::string rest;                // text after the last "*"
};

inline Replies Split(const std::string& bytes) {
  Replies r;
  tarvikclient::ReplyScanner s;
  std::string text;
  auto parts = s.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  auto tail = s.Finish();
  parts.insert(parts.end(), tail.begin(), tail.end());
  for (const auto& p : parts) {
    if (p.isFrame) {
      r.frames.push_back(p.frame);
      continue;
    }
    for (char c : p.text) {
      text.push_back(c);
      if (c == '*') {
        r.texts.push_back(text);
        text.clear();
      }
    }
  }
  r.rest = text;
  return r;
}

inline int CountLines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace e2etest
