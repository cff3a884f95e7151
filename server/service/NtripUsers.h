#pragma once
// Who may use which mount point of the NTRIP caster.
//
// The users file holds one entry per line:
//
//   MOUNT:USER:HASH
//
//   MOUNT  a mount point, or "*" for every mount point
//   USER   a user name (anything but ':' and control characters)
//   HASH   the password as crypt(3) hashes it, e.g. "$6$..." (SHA-512) or
//          "$y$..." (yescrypt); never the password itself
//
// Blank lines and lines starting with '#' are ignored. A mount point named
// by an entry, or every mount point once a "*" entry exists, asks for Basic
// authentication; the others are open to everybody.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik {

struct NtripUserEntry {
  std::string mountPoint;  // "*" for every one
  std::string user;
  std::string hash;
};

class NtripUsers {
 public:
  // Reads the entries of a file's text; lines that are not entries are
  // skipped and described in `problems` (by line number, never the line's
  // text, which may hold a password by mistake).
  static NtripUsers Parse(const std::string& text, std::vector<std::string>& problems);

  // Users of a file that exists but cannot be read: every mount point asks
  // for a password and none is accepted, rather than all of them open.
  static NtripUsers ClosedToAll();

  const std::vector<NtripUserEntry>& Entries() const { return entries_; }
  bool RequiresAuthentication(const std::string& mountPoint) const;
  // True when an entry for that mount point (or "*") has that user and
  // the password matches its hash.
  bool Check(const std::string& mountPoint, const std::string& user, const std::string& password) const;

  // A fresh SHA-512 crypt hash of `password` with a random salt; "" when
  // the system cannot make one.
  static std::string HashPassword(const std::string& password);
  // True when `password` hashes to `hash` (any scheme crypt(3) knows).
  static bool Verify(const std::string& password, const std::string& hash);

  // The users file text with the entry of (mount, user) set to `hash`:
  // an existing entry is replaced in place, otherwise one is appended;
  // every other line stays as it was.
  static std::string WithEntry(const std::string& text, const NtripUserEntry& entry);

 private:
  std::vector<NtripUserEntry> entries_;
  bool closedToAll_ = false;
};

// The users file as the caster sees it: read again whenever it changed
// on disk, so entries can be added while the caster runs.
class NtripUsersFile {
 public:
  explicit NtripUsersFile(std::filesystem::path file);

  // The entries of the file's current state (none when it is missing).
  // Problems of a new read are handed to `problems` once.
  std::shared_ptr<const NtripUsers> Current(std::vector<std::string>& problems);
  const std::filesystem::path& Path() const { return file_; }

 private:
  std::filesystem::path file_;
  std::mutex mutex_;
  std::shared_ptr<const NtripUsers> users_;
  std::filesystem::file_time_type stamp_{};
  std::uintmax_t size_ = 0;
  bool existed_ = false;
  bool read_ = false;
};

}  // namespace tarvik
