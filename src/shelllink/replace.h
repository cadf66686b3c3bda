// Files put in place durably, one or many at a time: the one way mklnk
// replaces a file.
//
// A new file is first made complete under a hidden temporary name of its
// own beside the name it is to take ("staged"): an empty file that the
// Shell fills in (StageEmpty, then Filled), or one written with given bytes
// (StageBytes).  A group of staged files is then committed, in four steps:
//   1. their data is flushed: one flush of the whole file system where the
//      system has one and several files are on it (syncfs on Linux), else
//      one flush per file;
//   2. for each file, in the order staged: the name is checked (the file
//      that stands there now must not be the one it must never replace)
//      and the file renamed over it in one step;
//   3. each folder with a new name in it is flushed once;
//   4. the outcome of each file is known (TakeOutcomes).
// A crash at any instant leaves every name with its old file or its new
// one, never a part of one.  Interrupts (Ctrl+C, SIGINT, SIGTERM, SIGHUP)
// wait from the first staging of a group to the end of its commit, so that
// they leave no temporary file; a kill leaves at most one group's.
//
// A single run is a group of one; a list of links fills groups of many.
// Everything here goes through platform.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace mklnk::shelllink {

// The name a staged file is to take.
struct ReplaceTarget {
  platform::Handle folder = platform::kInvalidHandle;  // from ReplaceGroup::Folder
  std::string name;         // a single name in the folder, as it is spelt on disk
  std::u16string shown;     // its full path, for the error lines
  bool replacing = false;   // something stands at the name (the error lines say so)
  // The file that must never be replaced (a link's target): when it stands
  // at the name at commit time, the file is refused.
  std::optional<platform::FileId> notThis;
};

// What became of one staged file.
struct ReplaceOutcome {
  std::size_t id = 0;       // as Stage* answered it
  bool done = false;        // in place and on disk
  std::u16string what;      // when not: the error line's words
  std::uint32_t reason = 0; //   and the system's reason, 0 when none
};

class ReplaceGroup {
 public:
  // `most`: how many files a group holds before Full() says so.
  explicit ReplaceGroup(std::size_t most = 1);
  // Removes the temporary file of everything staged and not committed.
  ~ReplaceGroup();
  ReplaceGroup(const ReplaceGroup&) = delete;
  ReplaceGroup& operator=(const ReplaceGroup&) = delete;

  // The folder at `path` (full, in the system's bytes), held by the group
  // for as long as it stages files there; kInvalidHandle with the reason in
  // platform::GetLastError when it cannot be opened.
  platform::Handle Folder(const std::string& path);

  // Whether the group should be committed before anything more is staged:
  // it holds as many files, or folders, as it may.
  bool Full() const;

  // Whether a file staged and not yet committed is to take the name `name`
  // of the folder (of any folder: kInvalidHandle), or a name that differs
  // from it only in letter case: such a name is to be looked at once the
  // group is committed.
  bool Pending(platform::Handle folder, const std::string& name) const;

  // A new, empty temporary file beside the target, for the Shell to fill
  // in: its id.  Throws platform::ShellFailure ("cannot create the link
  // file ...") when none can be made.
  std::size_t StageEmpty(ReplaceTarget target);

  // The temporary file's name in its folder.
  const std::string& TemporaryName(std::size_t id) const;

  // The Shell has filled the file in: it is hidden, and goes in with the
  // group.
  void Filled(std::size_t id);

  // A failure of the caller's: the temporary file is removed, the name
  // left as it is, and no outcome follows.
  void Drop(std::size_t id);

  // A new temporary file beside the target holding `bytes`, filled and
  // hidden: its id.  Throws platform::ShellFailure when it cannot be made
  // or written (nothing is left then).
  std::size_t StageBytes(ReplaceTarget target, const std::string& bytes);

  // Puts every filled file in place (the steps above); an outcome for each
  // file staged since the last commit waits in TakeOutcomes.  A file staged
  // empty and never filled is removed, with no outcome.
  void Commit();

  // The outcomes of the commits so far, in the order staged, and forgets
  // them.
  std::vector<ReplaceOutcome> TakeOutcomes();

 private:
  struct Entry;
  struct Held;
  // A new temporary file, empty or holding `bytes`: StageEmpty's work.
  std::size_t Stage(ReplaceTarget target, const std::string* bytes);
  // The entry of an id staged and not committed, or nullptr.
  Entry* Find(std::size_t id);
  void Abandon(Entry& entry);
  void Allow();

  std::size_t most_;
  std::size_t nextId_ = 0;
  std::size_t temporaries_ = 0;  // temporary names taken since the last commit
  std::vector<Entry> entries_;  // in the order staged, and so of their ids
  std::vector<Held> folders_;
  std::vector<ReplaceOutcome> outcomes_;
  std::unordered_map<std::u16string, std::size_t> pending_;  // staged files by their names in upper case
  bool deferred_ = false;
};

}  // namespace mklnk::shelllink
