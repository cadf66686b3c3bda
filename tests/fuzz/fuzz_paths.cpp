// Fuzz target for the pure path procedures: the folder/name split (given
// what the disk would say), the join and the quote stripping.
//
// Input: one byte of flags (bit 0: the path names an existing folder),
// then UTF-8 text cut at NUL characters into the path to split, the
// current directory, and a folder and a name to join.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/paths.h"
#include "fuzz_input.h"

namespace {

using std::u16string;

constexpr std::size_t npos = u16string::npos;

// What the disk would answer: whether the path is a folder, and the
// current directory.
struct Disk {
  bool isFolder = false;
  u16string curDir;
};
Disk disk;

std::size_t Backslashes(const u16string& s) {
  std::size_t n = 0;
  for (char16_t c : s) n += c == u'\\';
  return n;
}

bool EndsWith(const u16string& s, const u16string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

void CheckSplit(const u16string& path) {
  const u16string folder = mklnk::fs::FolderPartOf(path, disk.isFolder, disk.curDir);
  const u16string name = mklnk::fs::FilePartOf(path, disk.isFolder);

  if (path.find(u'\\') == npos) {
    // A bare name in the current directory, whatever the folder test says.
    FUZZ_CHECK(folder == disk.curDir);
    FUZZ_CHECK(name == path);
    return;
  }
  if (disk.isFolder) {
    FUZZ_CHECK(folder == path);
    FUZZ_CHECK(name.empty());
  } else {
    FUZZ_CHECK(folder + name == path);
    FUZZ_CHECK(!folder.empty() && folder.back() == u'\\');
    FUZZ_CHECK(name.find(u'\\') == npos);
  }
}

void CheckJoin(const u16string& folder, const u16string& name) {
  const u16string joined = mklnk::fs::JoinPath(folder, name);
  FUZZ_CHECK(joined.compare(0, folder.size(), folder) == 0);
  FUZZ_CHECK(EndsWith(joined, name));
  const bool added = folder.empty() || folder.back() != u'\\';
  FUZZ_CHECK(joined.size() == folder.size() + name.size() + (added ? 1 : 0));
  FUZZ_CHECK(Backslashes(joined) == Backslashes(folder) + Backslashes(name) + (added ? 1 : 0));
  if (added) FUZZ_CHECK(joined[folder.size()] == u'\\');
}

void CheckStripQuotes(const u16string& path) {
  const u16string stripped = mklnk::fs::StripQuotes(path);
  // An opening double quote always goes; a closing one only when it is the
  // first double quote after the first character.  Nothing else changes.
  const std::size_t front = !path.empty() && path[0] == u'"' ? 1 : 0;
  const bool closing = path.size() >= 2 && path.find(u'"', 1) == path.size() - 1;
  FUZZ_CHECK(stripped.size() + front + (closing ? 1 : 0) == path.size());
  FUZZ_CHECK(path.compare(front, stripped.size(), stripped) == 0);
}

// What names a link and what a path may hold: parts of the path itself,
// and a network path's fault only for a path that begins with two
// separators.
void CheckNames(const u16string& path) {
  const u16string name = mklnk::fs::LinkNameOf(path);
  FUZZ_CHECK(name.size() <= path.size());
  FUZZ_CHECK(name.find_first_of(u"\\/") == npos || path.find_first_not_of(u"\\/") == npos);
  const u16string bad = mklnk::fs::InvalidName(path);
  FUZZ_CHECK(bad.empty() || (path.find(bad) != npos && !mklnk::fs::ValidFileName(bad)));
  const bool network = path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') && (path[1] == u'\\' || path[1] == u'/');
  FUZZ_CHECK(network || mklnk::fs::NetworkPathFault(path).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  disk.isFolder = (data[0] & 1) != 0;
  const u16string text = fuzz::Decode(data + 1, size - 1);

  std::vector<u16string> fields;
  std::size_t at = 0;
  for (;;) {
    const std::size_t nul = text.find(u'\0', at);
    fields.push_back(text.substr(at, nul == npos ? npos : nul - at));
    if (nul == npos) break;
    at = nul + 1;
  }
  fields.resize(fields.size() < 4 ? 4 : fields.size());
  disk.curDir = fields[1];

  CheckSplit(fields[0]);
  CheckStripQuotes(fields[0]);
  CheckNames(fields[0]);
  CheckJoin(fields[2], fields[3]);
  return 0;
}
