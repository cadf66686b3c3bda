#include "shelllink/replace.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace mklnk::shelllink {

namespace {

// Folders held at once: a group that reaches them is full, so that a list
// of links in many folders never runs out of descriptors.
constexpr std::size_t kMostFolders = 64;

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

std::u16string Upper(const std::string& name) { return platform::UpperCase(platform::FromAnsi(name)); }

const std::string& Stem() {
  static const std::string stem = ".mklnk-" + std::to_string(platform::ProcessId());
  return stem;
}

}  // namespace

struct ReplaceGroup::Held {
  std::string path;
  platform::Handle handle = platform::kInvalidHandle;
  bool asked = false;                   // whether the volume was asked for
  std::optional<std::uint64_t> volume;  // which file system the folder is on
};

struct ReplaceGroup::Entry {
  std::size_t id = 0;
  ReplaceTarget target;
  std::string temporary;  // "" once it is in place or gone
  std::u16string upper;   // the target's name in upper case
  bool filled = false;
};

ReplaceGroup::ReplaceGroup(std::size_t most) : most_(most == 0 ? 1 : most) {}

ReplaceGroup::~ReplaceGroup() {
  for (Entry& entry : entries_) Abandon(entry);
  Allow();
  for (const Held& held : folders_) platform::CloseFolder(held.handle);
}

platform::Handle ReplaceGroup::Folder(const std::string& path) {
  const auto known = std::find_if(folders_.begin(), folders_.end(), [&](const Held& held) { return held.path == path; });
  if (known != folders_.end()) return known->handle;
  if (folders_.size() >= kMostFolders && entries_.empty()) {
    for (const Held& held : folders_) platform::CloseFolder(held.handle);
    folders_.clear();
  }
  const platform::Handle handle = platform::OpenFolderA(path);
  if (handle != platform::kInvalidHandle) folders_.push_back(Held{path, handle, false, std::nullopt});
  return handle;
}

bool ReplaceGroup::Full() const { return entries_.size() >= most_ || folders_.size() >= kMostFolders; }

bool ReplaceGroup::Pending(platform::Handle folder, const std::string& name) const {
  const std::u16string upper = Upper(name);
  if (!pending_.contains(upper)) return false;
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& entry) {
                       return (folder == platform::kInvalidHandle || entry.target.folder == folder) &&
                              entry.upper == upper;
                     });
}

std::size_t ReplaceGroup::StageEmpty(ReplaceTarget target) { return Stage(std::move(target), nullptr); }

std::size_t ReplaceGroup::Stage(ReplaceTarget target, const std::string* bytes) {
  // From here on an interrupt waits until the group's files are in place
  // or gone.
  if (!deferred_) {
    platform::DeferInterrupts();
    deferred_ = true;
  }
  // The group's temporary names: ".mklnk-<process>.lnk" first, then "-1",
  // "-2"... before ".lnk".
  for (int tries = 0;; ++tries) {
    const std::size_t n = temporaries_++;
    std::string name = n == 0 ? Stem() + ".lnk" : Stem() + "-" + std::to_string(n) + ".lnk";
    if ((bytes ? platform::CreateNewFileA(target.folder, name, *bytes) : platform::CreateNewFileA(target.folder, name)) !=
        0) {
      Entry entry;
      entry.id = nextId_++;
      entry.upper = Upper(target.name);
      entry.target = std::move(target);
      entry.temporary = std::move(name);
      ++pending_[entry.upper];
      entries_.push_back(std::move(entry));
      return entries_.back().id;
    }
    const std::uint32_t reason = platform::GetLastError();
    // Only a leftover of an earlier run of the same number is worth
    // passing over, and only a few times.
    if (reason != platform::kErrorFileExists || tries == 9) {
      if (entries_.empty()) Allow();
      throw platform::ShellFailure{(bytes ? u"cannot write the link file " : u"cannot create the link file ") +
                                       Quoted(target.shown),
                                   reason};
    }
  }
}

ReplaceGroup::Entry* ReplaceGroup::Find(std::size_t id) {
  // Ids grow as files are staged: a search, not a walk, so that a group of
  // thousands is not looked through once per file.
  const auto at = std::lower_bound(entries_.begin(), entries_.end(), id,
                                   [](const Entry& entry, std::size_t wanted) { return entry.id < wanted; });
  return at != entries_.end() && at->id == id ? &*at : nullptr;
}

const std::string& ReplaceGroup::TemporaryName(std::size_t id) const {
  static const std::string none;
  const Entry* entry = const_cast<ReplaceGroup*>(this)->Find(id);
  return entry != nullptr ? entry->temporary : none;
}

void ReplaceGroup::Filled(std::size_t id) {
  Entry* entry = Find(id);
  if (entry == nullptr) return;
  // Hidden while it is a stray, shown again as it takes the name: the
  // Shell may not list a hidden file, so not before it is filled.
  platform::HideFileA(entry->target.folder, entry->temporary, true);
  entry->filled = true;
}

void ReplaceGroup::Drop(std::size_t id) {
  Entry* entry = Find(id);
  if (entry == nullptr) return;
  Abandon(*entry);
  if (const auto named = pending_.find(entry->upper); named != pending_.end() && --named->second == 0) {
    pending_.erase(named);
  }
  entries_.erase(entries_.begin() + (entry - entries_.data()));
  if (entries_.empty()) Allow();
}

std::size_t ReplaceGroup::StageBytes(ReplaceTarget target, const std::string& bytes) {
  // Made and written in one opening of the file.
  const std::size_t id = Stage(std::move(target), &bytes);
  Filled(id);
  return id;
}

void ReplaceGroup::Commit() {
  // A file staged but never filled is no file to put in place.
  for (Entry& entry : entries_) {
    if (!entry.filled) Abandon(entry);
  }
  std::erase_if(entries_, [](const Entry& entry) { return entry.temporary.empty(); });
  std::vector<ReplaceOutcome> outcomes(entries_.size());
  const auto fail = [&](std::size_t i, std::u16string what, std::uint32_t reason) {
    outcomes[i].what = std::move(what);
    outcomes[i].reason = reason;
    Abandon(entries_[i]);
  };
  const auto notWritten = [&](std::size_t i, std::uint32_t reason) {
    fail(i, u"cannot write the link file " + Quoted(entries_[i].target.shown), reason);
  };
  const auto flushEach = [&](const std::vector<std::size_t>& which) {
    for (const std::size_t i : which) {
      if (platform::FlushFileA(entries_[i].target.folder, entries_[i].temporary) == 0) {
        notWritten(i, platform::GetLastError());
      }
    }
  };

  // 1. The data: a file alone is flushed by itself, several on one file
  // system with one flush of it where the system has one.
  if (entries_.size() == 1) {
    flushEach({0});
  } else {
    // Each file's volume, by its folder's; a folder whose volume is not
    // known is one of its own.
    std::vector<std::uint64_t> volumes(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      for (std::size_t f = 0; f < folders_.size(); ++f) {
        Held& held = folders_[f];
        if (held.handle != entries_[i].target.folder) continue;
        if (!held.asked) {
          const std::optional<platform::FileId> id = platform::GetFileIdAt(held.handle, ".");
          if (id) held.volume = id->volume;
          held.asked = true;
        }
        volumes[i] = held.volume ? *held.volume : UINT64_MAX - f;
      }
    }
    std::vector<bool> done(entries_.size());
    for (std::size_t first = 0; first < entries_.size(); ++first) {
      if (done[first]) continue;
      std::vector<std::size_t> which;
      for (std::size_t i = first; i < entries_.size(); ++i) {
        if (volumes[i] == volumes[first]) {
          which.push_back(i);
          done[i] = true;
        }
      }
      const int flushed = which.size() > 1 ? platform::FlushFileSystem(entries_[first].target.folder) : -1;
      if (flushed < 0) {
        flushEach(which);
      } else if (flushed == 0) {
        const std::uint32_t reason = platform::GetLastError();
        for (const std::size_t i : which) notWritten(i, reason);
      }
    }
  }

  // 2. Each name, in the order staged.
  std::vector<platform::Handle> changed;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Entry& entry = entries_[i];
    if (entry.temporary.empty()) continue;
    const ReplaceTarget& target = entry.target;
    // Whatever stands at the name now, a file put there meanwhile or in
    // another letter case, must still not be the one never to replace.
    if (target.notThis && platform::GetFileIdAt(target.folder, target.name) == target.notThis) {
      fail(i, u"the link file " + Quoted(target.shown) + u" is the target itself.", 0);
      continue;
    }
    platform::HideFileA(target.folder, entry.temporary, false);
    if (platform::ReplaceFileA(target.folder, entry.temporary, target.name) == 0) {
      const std::uint32_t reason = platform::GetLastError();
      fail(i, (target.replacing ? u"cannot replace the existing file " : u"cannot create the link file ") +
                  Quoted(target.shown),
           reason);
      continue;
    }
    entry.temporary.clear();
    outcomes[i].done = true;
    if (std::find(changed.begin(), changed.end(), target.folder) == changed.end()) changed.push_back(target.folder);
  }

  // 3. Each folder's new names.  A name not known to be on disk is not
  // reported made, though it is in place.
  for (const platform::Handle folder : changed) {
    if (platform::FlushFolder(folder) != 0) continue;
    const std::uint32_t reason = platform::GetLastError();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (outcomes[i].done && entries_[i].target.folder == folder) {
        outcomes[i].done = false;
        outcomes[i].what = u"cannot write the link file " + Quoted(entries_[i].target.shown);
        outcomes[i].reason = reason;
      }
    }
  }

  for (std::size_t i = 0; i < entries_.size(); ++i) {
    outcomes[i].id = entries_[i].id;
    outcomes_.push_back(std::move(outcomes[i]));
  }
  entries_.clear();
  pending_.clear();
  temporaries_ = 0;
  Allow();
}

std::vector<ReplaceOutcome> ReplaceGroup::TakeOutcomes() { return std::exchange(outcomes_, {}); }

void ReplaceGroup::Abandon(Entry& entry) {
  if (!entry.temporary.empty()) platform::RemoveFileA(entry.target.folder, entry.temporary);
  entry.temporary.clear();
}

void ReplaceGroup::Allow() {
  if (deferred_) platform::AllowInterrupts();
  deferred_ = false;
}

}  // namespace mklnk::shelllink
