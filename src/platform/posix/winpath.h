// Windows paths on a Linux file system, the way Wine users know them.
//
// Drive Z: is the root "/".  Any other drive letter X: is whatever
// $WINEPREFIX/dosdevices/x: leads to (the prefix defaults to $HOME/.wine);
// a letter with no such entry names nothing.  Both separators, '\' and '/',
// are accepted on the way in, as the Windows file calls accept them; paths
// going out use '\'.  A UNC path (\\server\share) is what Wine keeps of
// that share in the prefix, $WINEPREFIX/dosdevices/unc/server/share; there
// is no network redirector behind us.
//
// Every path is made full first (GetFullPathName's rules: relative names
// against the current directory, "." and ".." collapsed as text), and only
// then mapped, so a name means the same to every call.
//
// Wine's name lookup: a name that its folder does not hold as written
// matches an entry that differs from it only in letter case (MatchName).
// Not emulated: the trimming of trailing dots and spaces from a name, and
// DOS device names such as NUL or CON.
#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::posix {

// "X:" at the start of a path, X a letter.
bool HasDrive(std::string_view path);

// "X:\" (or "X:/") and whatever follows: a full path on a drive.
bool IsFullDrivePath(std::string_view path);

// The names between separators ('\\' or '/'); empty names (runs of
// separators) dropped.
std::vector<std::string_view> SplitNames(std::string_view text);

// The folder that drive `letter` stands for ("/" for Z:), without a
// trailing '/' except for "/" itself; nullopt when the drive is not mapped.
std::optional<std::string> DriveRoot(char letter);

// The current directory in Windows form: "Z:\tmp\abc", "Z:\", or
// "C:\users\me" when it lies under a mapped drive (the drive whose folder is
// the longest leading part of it wins; Z: is the fallback).  nullopt when
// the current directory cannot be read (for instance, it was removed), or
// when its name is not UTF-8 (EILSEQ): as text it would name some other
// folder.
std::optional<std::string> CurrentDirectoryWindows();

// An absolute Linux path in Windows form, as CurrentDirectoryWindows does it.
// `unixPath` should be free of symbolic links (realpath / getcwd output).
std::string UnixToWindows(std::string_view unixPath);

// GetFullPathName on text alone: `path` resolved against `cwd` (a full
// Windows path, "X:\..." or "\\server\share\..."), "." and ".." collapsed,
// runs of separators made one (except the leading pair of a UNC path), every
// separator written as '\', a trailing separator kept, the long-path prefix
// of "\\?\C:\..." dropped.  "C:name" resolves
// against `cwd` when it lies on drive C:, otherwise against "C:\".  "" when
// the path is empty, holds a zero byte, or needs a `cwd` that is empty.
std::string FullWindowsPath(std::string_view path, std::string_view cwd);

// The same against the process's current directory.
std::string FullWindowsPath(std::string_view path);

// Where a full Windows path starts on Linux: the folder of its drive, or of
// its share where Wine keeps shares in the prefix (dosdevices/unc/server/
// share), and the position in the path where the names below it begin.
// nullopt when it starts nowhere here (an unmapped drive, a share without
// a prefix, the "\\?\" and "\\.\" forms).
struct Root {
  std::string folder;
  std::size_t below;
};
std::optional<Root> RootOf(std::string_view fullPath);

// The Linux path that a Windows path names, nullopt when it names nothing
// (empty, a zero byte, where RootOf finds no start, or relative while the
// current directory cannot be read), with errno ENOENT.  A trailing separator
// stays, as "/", so the system still insists on a directory there.
std::optional<std::string> ToUnixPath(std::string_view windowsPath);

// ---- Wine's name lookup ---------------------------------------------------------
//
// One rule: a name that its folder holds as written is that name.  Else it
// is the entry of the folder that differs from it only in letter case (upper
// case as platform::UpperCase makes it); of several, the first in byte
// order (strcmp).  The folder is listed only when a call on the name as
// written found nothing, so a path spelt as on disk costs nothing more.

// The entry of the folder `folder` (a Linux path) that the rule gives for
// `name`; nothing when there is none (errno ENOENT).
std::optional<std::string> MatchName(const std::string& folder, const std::string& name);

// Every entry of the folder `folder` that is `name` but for letter case,
// `name` itself included when it is there, in byte order.
std::vector<std::string> MatchNames(const std::string& folder, const std::string& name);

// An absolute Linux path with its names as the rule finds them on disk;
// names that match nothing stay as written.
std::string MatchPath(const std::string& unixPath);

// To be called after every change this layer makes to a folder: the last
// listing read is kept until then.  NoteNewFile, after making a new file,
// adds it to the listing of its folder instead, NoteRenamed and NoteRemoved
// change it as a rename or a removal in the folder did.
void ForgetListings();
void NoteNewFile(const std::string& folder, const std::string& name);
void NoteRenamed(const std::string& folder, const std::string& from, const std::string& to);
void NoteRemoved(const std::string& folder, const std::string& name);

// The type (DT_REG, DT_DIR, ...) of `name` in `folder` as the kept listing
// has it; nothing when the listing is of another folder, does not hold the
// name, or does not know its type: then the disk must be asked.
std::optional<unsigned char> ListedType(const std::string& folder, const std::string& name);

// A descriptor of the folder (a Linux path, which Wine's lookup may respell
// as it is on disk), -1 with errno when there is none: the listing's own
// when it is of this folder, so that a run opens its link's folder once.
// ReleaseFolder gives it back.
int HoldFolder(std::string& unixFolder);
void ReleaseFolder(int fd);

// `name` in the folder `folder`, both Linux paths.
std::string JoinUnix(const std::string& folder, const std::string& name);

// A folder, by a descriptor that needs no read permission where the system
// has such descriptors (O_PATH); -1 with errno when it cannot be opened.
int OpenFolderAt(int at, const char* path);

// Runs `call` (a system call on a path, true when it succeeded) on the path
// as written, and, when that found no such file or folder, once more on
// the path as MatchPath spells it, if that differs.  `unixPath` is left as
// the last call used it.
template <class Call>
bool OnDisk(std::string& unixPath, Call call) {
  if (call(unixPath.c_str())) return true;
  if (errno != ENOENT && errno != ENOTDIR) return false;
  std::string matched = MatchPath(unixPath);
  if (matched == unixPath) {
    errno = ENOENT;
    return false;
  }
  unixPath = std::move(matched);
  return call(unixPath.c_str());
}

// A full Windows path ("X:\a\b") with its names taken from the end of
// `unixPath`, the path it maps to: the names as MatchPath found them.
std::string WithNamesOf(std::string_view windowsPath, std::string_view unixPath);

// The last name of a Windows path ("" for a drive root); a trailing
// separator is passed over.
std::string_view LastComponent(std::string_view windowsPath);

}  // namespace platform::posix
