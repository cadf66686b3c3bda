// The shell-link writer: has the Shell's automation objects fill in and
// save one .lnk file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shelllink/replace.h"

namespace mklnk::shelllink {

// Makes "<link name or target name>.lnk" in the link folder, pointing at the
// target folder joined with the target name.  True when the link was saved;
// false after printing "Error: " and the failure's description.
//
// The new link is made complete under a temporary name of its own in the
// link folder (an empty file, made new, that the Shell fills in and saves),
// then put in the link file's place with one replacing rename: the name
// holds the older link or the new one at every instant, and a failed call
// leaves the link folder as it found it.
bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const std::u16string& arguments, const std::u16string& description);

// The same with every property a link can hold besides its target.  A
// relative working directory or icon file is made full, as the target is;
// an icon file holding a %VARIABLE% is stored as it is, for the system that
// opens the link to expand.
bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const platform::LinkProperties& properties);

// Many links in one run: one Shell object for all of them, and their files
// put in place in groups (replace.h).
struct LinkBatch {
  explicit LinkBatch(std::size_t most = 1) : group(most) {}
  // Prints the error line of each outcome that failed; true when none did.
  static bool Report(const std::vector<ReplaceOutcome>& outcomes);

  std::unique_ptr<platform::ShellObject> shell;  // made for the first link
  ReplaceGroup group;
  std::size_t last = 0;  // the id of the last link staged
  // Set: the link is not staged; its bytes, as the Shell saved them, are
  // read into it, and its temporary file removed (for an edit's new
  // target, stored as a new link's).
  std::string* bytesOnly = nullptr;
};

// The same into a batch: true when the link is staged, as batch.last, and
// goes in place with the group's commit; false after printing the error
// line.  A link that is to replace one of the group's commits it first.
bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const platform::LinkProperties& properties, LinkBatch& batch);

// The link the call would make, not put in place: its bytes (LinkBatch's
// bytesOnly).  False after printing the error line.
bool MakeLinkBytes(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                   std::u16string linkName, const platform::LinkProperties& properties, std::string& bytes);

}  // namespace mklnk::shelllink
