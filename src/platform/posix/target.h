// What the disk says about a link's target, looked at once.
//
// The Shell stores, for every name on the way to a link's target, what the
// file system says of it (attributes, size, times), and the names as they
// are on disk.  The posix layer looks all of that up in one walk down the
// target's folders, and keeps the last walk: the run's existence test of
// the target (FindFirstFileA) makes it, before anything is created, and
// the link object and the identity test read it again instead of looking
// a second time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::posix {

// One name on the way, a symbolic link followed, as the Shell resolves a
// link's target.
struct Facts {
  unsigned mode = 0;  // st_mode
  std::uint64_t size = 0;
  std::uint64_t created = 0, accessed = 0, written = 0;  // FILETIMEs; created is the last write where the system keeps no birth time
  std::uint64_t device = 0, inode = 0;
};

struct Walk {
  std::string path;                // the full Windows path walked, "X:\..."
  std::uint64_t driveDevice = 0;   // the drive root's device, standing for the volume's serial number
  std::vector<std::string> names;  // below the drive, as they are on disk (UTF-8)
  std::vector<Facts> facts;        // for the names looked at: all of them when the target is there
  int error = 0;                   // why it stopped short: ENOENT or ENOTDIR (not there), or a failure
  bool renamed = false;            // a name was found in another letter case

  bool Found() const { return error == 0 && facts.size() == names.size(); }
};

// The walk down a full Windows path on a drive, under Wine's name lookup:
// a name that its folder does not hold as written takes the spelling of
// the entry that differs from it only in letter case.  Unless `fresh` is
// asked for, the same path (a trailing separator and the drive letter's
// case aside) answers the kept walk without a look at the disk.  A path
// that is not full, or on a drive that is not mapped, stops at once with
// ENOENT.  A share's path ("\\\\server\\share\\...") is walked from where
// Wine keeps the share in the prefix (dosdevices/unc/server/share).
const Walk& WalkTo(const std::string& fullWindowsPath, bool fresh = false);

// The kept walk, when it is of this path; else null.
const Walk* KeptWalk(const std::string& fullWindowsPath);

}  // namespace platform::posix
