// The shell-link writer: has the Shell's automation objects fill in and
// save one .lnk file.
#pragma once

#include <string>

#include "platform/platform.h"

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

// The link the same call would make, not put in place: its bytes, as the
// Shell saved them under the temporary name in the link folder, which is
// then removed.  For an edit, whose new target is stored as a new link's.
bool MakeLinkBytes(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                   std::u16string linkName, const platform::LinkProperties& properties, std::string& bytes);

}  // namespace mklnk::shelllink
