// The shell-link writer: has the Shell's automation objects fill in and
// save one .lnk file.
#pragma once

#include <string>

#include "platform/platform.h"

namespace mklnk::shelllink {

// Makes "<link name>.lnk" in the link folder, pointing at the target folder
// joined with the target name; without a link name, the link is named after
// the target's full path (fs::LinkNameOf).  True when the link was saved;
// false after printing "Error: " and the failure's description.
//
// The new link is made complete under a temporary name of its own in the
// link folder (an empty file, made new, that the Shell fills in and saves),
// then put in the link file's place with one replacing rename: the name
// holds the older link or the new one at every instant, and a failed call
// leaves the link folder as it found it.
//
// It holds every property a link can hold besides its target.  A relative
// working directory or icon file is made full, as the target is; one that
// begins with a %VARIABLE% is stored as typed, for the system that opens
// the link to expand.  Every path must fit in a link as typed and, where
// its variables lead somewhere here, as they lead.
bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const platform::LinkProperties& properties);

}  // namespace mklnk::shelllink
