// Links made the way a local attacker makes a junction on Windows, for the
// tests under Wine: a Unix symbolic link, which Wine lists as a reparse
// point.  Wine's own calls cannot make one (CreateSymbolicLink succeeds and
// does nothing) and act on the target when they rename or delete one, so
// /bin/ln and /bin/rm do it.  Wine cannot wait for a Unix program, so the
// caller waits until the link is there (or gone): a state that stays once
// reached, whatever the load.
#pragma once

#include <functional>
#include <string>

namespace winfs {

// Starts a Unix program (a command line whose program is a Unix path) and
// waits until `done` holds, which must be a state the program's work leaves
// for good (a link made, a file renamed into place).  False when the program
// could not start or the state did not come within the fixtures' time limit.
bool runUnixProgram(const std::string& commandLine, const std::function<bool()>& done);

// Makes link (a Windows path whose parent exists) point at target.  False
// when it did not appear within the fixtures' time limit.
bool makeUnixLink(const std::string& link, const std::string& target);
// Removes the link itself, never what it points at.
bool removeUnixLink(const std::string& link);
// The path as the Linux side names it ("" when Wine cannot say).
std::string unixPath(const std::string& windowsPath);

// A link that is removed again when the scope ends.
class UnixLink {
public:
  UnixLink(const std::string& link, const std::string& target) : link_(link), made_(makeUnixLink(link, target)) {}
  ~UnixLink() {
    if (made_) removeUnixLink(link_);
  }
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;
  bool made() const { return made_; }

private:
  std::string link_;
  bool made_;
};

}  // namespace winfs
