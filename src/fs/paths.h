// Existence tests, forced deletion, path strings and the current directory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mklnk::fs {

// True when the path names an existing entry that is not a folder.  One
// pair of enclosing double quotes and one trailing backslash are ignored; a
// path of spaces only names nothing, nor does a wildcard where the system
// would expand it.
bool FileExists(std::u16string path);

// True when the path names an existing folder; double quotes as above.
bool FolderExists(const std::u16string& path);

// The current directory, or "" when it cannot be read.
std::u16string GetCurDir();

// The folder part and the name part of a path, the disk asked once: a path
// without a backslash is a name in the current directory; an existing
// folder is all folder, unless the caller knows what it is (`isFolder`).
struct PathParts {
  std::u16string folder, name;
};
PathParts SplitPath(const std::u16string& path, std::optional<bool> isFolder = std::nullopt);

// The same splits on text alone, given what the disk says: `isFolder`,
// whether the path names an existing folder (asked only of a path that
// holds a backslash), and `curDir`, the current directory (used only for
// one that holds none).
std::u16string FolderPartOf(std::u16string_view path, bool isFolder, std::u16string_view curDir);
std::u16string FilePartOf(std::u16string_view path, bool isFolder);

// The full path: resolved against the current directory (a drive-relative
// "C:name" against that drive's), "." and ".." and repeated backslashes
// gone, a trailing backslash kept, the long-path prefix "\\?\" dropped, the
// drive letter in upper case (as Windows stores it in a link).  "" when it
// cannot be resolved: a relative path while the current folder cannot be
// read (the reason in platform::GetLastError), or a character the system
// cannot take.
std::u16string FullPath(const std::u16string& path);

// Whether the path begins with an environment variable, "%NAME%": it means
// what the variable holds on the machine that opens the link.
bool IsEnvironmentPath(std::u16string_view path);

// Whether the path is full already ("C:\..." or "\\server\share..."):
// whether it can be resolved without the current directory.
bool IsFullPath(std::u16string_view path);

// The paths a link holds, each in a buffer of MAX_PATH (260) UTF-16 units
// where Windows and Wine read and open it, the terminating NUL included:
// a path of 259 units fits, one of 260 does not.  Units, not characters:
// a character outside the Basic Multilingual Plane (an emoji) takes two.
inline constexpr std::size_t kMaxLinkPath = 259;

enum class LinkPath {
  kTarget,            // counted as the link stores it: without a folder's trailing backslash
  kWorkingDirectory,  // counted with a closing backslash, which the system gives a current directory
  kLinkFile,          // the link file's own full path
  kIcon,              // the icon file
};

// Why `path` cannot go into a link (for an error line: which path, as it
// counts, how long, the limit), or "" when it fits.
std::u16string TooLongForLink(LinkPath kind, std::u16string_view path);

// The name a link made without one takes from its target's full path:
// the last name ("." and ".." are gone from a full path already), the
// share's for a share's root ("\\server\share" gives "share"), the
// drive letter for a drive's root ("C:\" gives "C"), and NAME for a path
// that is only a variable, "%NAME%".
std::u16string LinkNameOf(std::u16string_view fullPath);

// Whether Windows takes `name` as a file name: none of <>:"/\|?* or a
// control character (a colon would open an alternate stream of another
// file), and no device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// in any letter case, before the first dot and any blanks: "nul.txt",
// "Aux .lnk"), which Windows and Wine open as the device.
bool ValidFileName(std::u16string_view name);

// The first name of a path that Windows would not take ("" when there is
// none), after its long-path or device prefix ("\\?\", "\\.\") and its
// drive ("C:\" or "C:"); a server's and a share's name are names too.  Both
// separators, '\' and '/', part names.
std::u16string InvalidName(std::u16string_view path);

// What is wrong with a network path or a device path as a link's target
// (for an error line), "" for any other path: a network path names a
// server and a share that Windows takes ("\\server\share\..."); one in
// the device or long-path form ("\\.\pipe\x", "\\?\UNC\...") is
// no file or folder a link can name, but for "\\?\C:\..." and
// "\\?\UNC\server\share\...", the long forms of the other two.
std::u16string NetworkPathFault(std::u16string_view path);

// The folder, a backslash unless it already ends in one, and the name.
std::u16string JoinPath(std::u16string folder, const std::u16string& name);

// Removes a closing double quote when it is the first one after the first
// character, then an opening one.
std::u16string StripQuotes(std::u16string path);

}  // namespace mklnk::fs
