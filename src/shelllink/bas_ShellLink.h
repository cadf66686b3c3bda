// The shell-link writer: has the Shell's automation objects fill in and
// save one .lnk file.
#pragma once

#include <string>

namespace bas_ShellLink {

// Makes "<link name or target name>.lnk" in the link folder, pointing at the
// target folder joined with the target name.  True when the link was saved;
// false after printing "Error: " and the failure's description.  A failed
// call leaves the link folder as it found it.
bool CreateShellLink(std::u16string linkFolder, std::u16string targetFolder, std::u16string targetName,
                     std::u16string linkName, const std::u16string& arguments, const std::u16string& description);

// Creates the file or cuts it to zero length; reports nothing.
void CreateEmptyFile(const std::u16string& path);

}  // namespace bas_ShellLink
