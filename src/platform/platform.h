// The one door between mklnk and the operating system.
//
// Everything the tool needs from the system is declared here and nowhere
// else: the handful of kernel32 calls, three questions about the running
// process, and the Shell automation objects that build a link.  win32/
// implements it over kernel32 and COM; posix/ stands in for all of it on
// Linux, mapping Windows paths onto the Linux file system and writing the
// .lnk bytes itself.  The rest of the program includes no system header.
//
// Paths and other text handed to the file calls are bytes of the system's
// ANSI code page (on Linux: UTF-8), converted with ToAnsi/FromAnsi.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lnk/properties.h"

namespace platform {

// ---- start-up -------------------------------------------------------------

// Called once from main() before anything else.  Gives the platform the C
// argument vector (the posix build rebuilds the raw argument string from it)
// and makes the process safe to run (standard handles, signals).
void Startup(int argc, char** argv);

// ---- kernel calls -----------------------------------------------------------

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;
inline constexpr std::int32_t kStdInputHandle = -10;
inline constexpr std::int32_t kStdOutputHandle = -11;
inline constexpr std::int32_t kStdErrorHandle = -12;

inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;

Handle GetStdHandle(std::int32_t which);

// One write of all the bytes.  True when the system reports it done.
bool WriteFile(Handle handle, const std::string& bytes);

struct FindData {
  std::uint32_t attributes = 0;
};

// Directory search for the first entry that matches `pattern`; kInvalidHandle
// when nothing matches.  A valid handle must be closed with FindClose.  The
// tool never searches with wildcards: where the system would expand them
// (a '*' or '?' in the last name on Windows) nothing is found.
Handle FindFirstFileA(const std::string& pattern, FindData& data);
std::int32_t FindClose(Handle search);

// The attributes of the entry itself: a symbolic link is reported as one
// (kAttrReparsePoint, with kAttrDirectory when it leads to a folder), a
// dangling one included, as Windows does.
std::uint32_t GetFileAttributesA(const std::string& path);

// Without a buffer (or too small a one): the size needed, terminating zero
// included.  Otherwise the length written.  0 on failure.
std::uint32_t GetCurrentDirectoryA(std::uint32_t length, char* buffer);

// From now on the current directory is kept once it has been read: a list
// reads it once, and all its lines resolve their relative paths against the
// folder the run was started in.  (Windows keeps it in the process anyway.)
void KeepCurrentDirectory();

// The full path of `path`, resolved against the current directory (and the
// drive's current directory for "C:name"); "" on failure.
std::string GetFullPathNameA(const std::string& path);

// Which file a path names, the same for every spelling of it: the volume
// and the file's number on it (device and inode on Linux).  The path's last
// name is taken as it stands when `follow` is false (a symbolic link is
// itself), and followed when it is true.  Nothing when there is no such
// file or folder.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};
std::optional<FileId> GetFileIdA(const std::string& path, bool follow);

// The reason the last call that failed gave, as the system numbers it (errno
// on Linux).  Calls that succeed may leave it as it was; SetLastError(0)
// forgets it.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// The system's words for a reason ("Permission denied", "Access is
// denied"), without line end or final full stop.
std::u16string ErrorMessage(std::uint32_t code);

// Whether a failed look's reason says that nothing is there to find (no
// such file or folder, a name on the way that is none, a folder that may
// not be looked into), rather than that the looking itself failed (an I/O
// error, no memory).  0, no reason at all, is "not there".
bool NotFound(std::uint32_t code);

// ---- the link's folder, held while a link is made in it ------------------
//
// A new link is made complete under a temporary name in the link's folder
// and then put in place with one replacing rename.  The folder is held from
// the temporary file's making to its renaming or removal, and both are done
// relative to it: a folder renamed meanwhile gets the whole link, or
// nothing.  Names are single names in the folder, never paths.

// Holds the folder at `path`; kInvalidHandle (and the reason in
// GetLastError) when it cannot be opened.  CloseFolder lets it go.
Handle OpenFolderA(const std::string& path);
void CloseFolder(Handle folder);

// The entries of the folder whose names are `name` but for letter case,
// compared as the system compares file names, each spelt as it is on disk
// (`name` itself among them when it is there), in byte order.
std::vector<std::string> FindNamesA(Handle folder, const std::string& name);

// Makes `name` in the folder as a new, empty file, never over anything
// that has that name; 0 on failure, with kErrorFileExists in GetLastError
// when the name is taken.
std::int32_t CreateNewFileA(Handle folder, const std::string& name);
// The same, holding `bytes`, in one opening of the file (not flushed); on
// a failure to write, nothing is left of it.
std::int32_t CreateNewFileA(Handle folder, const std::string& name, const std::string& bytes);
extern const std::uint32_t kErrorFileExists;

// Which file stands at `name` in the folder, itself (a symbolic link is not
// followed); nothing when nothing does.
std::optional<FileId> GetFileIdAt(Handle folder, const std::string& name);

// Gives the file `name` the hidden attribute, or takes it away.  On Linux a
// leading dot hides a name, and this changes nothing.
std::int32_t HideFileA(Handle folder, const std::string& name, bool hidden);

// Puts the file `from` in the place of `to` in one step: whatever stands at
// `to` is replaced as itself (a symbolic link there is not followed), and
// `to` names the old file or the new one at every instant.  A read-only
// file at `to` is replaced where the system allows it only once the
// attribute is cleared (Windows); the attribute stays with that file
// wherever it has other names.  Non-zero on success; `from` is then gone.
std::int32_t ReplaceFileA(Handle folder, const std::string& from, const std::string& to);

// Removes the file `name` from the folder.  Non-zero on success.
std::int32_t RemoveFileA(Handle folder, const std::string& name);

// ---- having files on disk -----------------------------------------------------
//
// A new file is written without waiting for the disk, and flushed before
// it takes its name: several files are flushed with one call where the
// system has one.

// Has the data of the file `name` in the folder on disk.  Non-zero on
// success.
std::int32_t FlushFileA(Handle folder, const std::string& name);

// Has everything written on the folder's file system on disk, in one call
// (syncfs on Linux): 1; 0 on failure, with the reason in GetLastError; -1
// where the system has no such call (Windows), and each file is flushed by
// itself instead.
std::int32_t FlushFileSystem(Handle folder);

// Has the folder's entries, the names just put in place in it, on disk.
// Non-zero on success.  Windows writes each replacing rename through, and
// has nothing more to do.
std::int32_t FlushFolder(Handle folder);

// ---- reading a list of command lines -------------------------------------------

// Opens the file at `path` for reading; kInvalidHandle, with the reason in
// GetLastError, when it cannot be (a folder cannot).  CloseFile lets it go.
Handle OpenFileA(const std::string& path);
void CloseFile(Handle file);

// Reads up to `size` bytes: how many were read, 0 at the end, -1 on failure
// (the reason in GetLastError).
std::int64_t ReadFile(Handle handle, char* buffer, std::size_t size);

// Whether a read of the handle would wait now: a pipe or a terminal with
// nothing in it yet.  Never for a file.
bool ReadWouldWait(Handle handle);

// Whether the handle is a terminal (a console on Windows).
bool IsTerminal(Handle handle);

// Milliseconds from a fixed instant, for rates.
std::uint64_t Milliseconds();
// ---- links changed in place ------------------------------------------------
//
// An edited link is read from its folder, and its new bytes staged beside
// it (shelllink/replace.h) with what else the file had.

// One entry of a folder, as it is: a symbolic link (a junction, a reparse
// point) is kOther, never followed.
struct FolderEntry {
  enum class Kind { kFile, kFolder, kOther };
  std::string name;
  Kind kind = Kind::kOther;
};

// The entries of the folder at `path`, "." and ".." left out.  False, with
// the reason in GetLastError, when it cannot be listed.
bool ListFolderA(const std::string& path, std::vector<FolderEntry>& entries);

// What a file has besides its bytes that a file put in its place keeps:
// its permissions and owner on Linux, its attributes on Windows, as the
// system says them.
struct FileState {
  std::uint32_t mode = 0, user = 0, group = 0;  // Linux
  std::uint32_t attributes = 0;                 // Windows
};

// The bytes of the plain file `name` in the folder (a symbolic link is not
// followed, and nothing but a plain file is read), when it holds at most
// `most`, and its state (looked at with the same opening).  False, with the
// reason in GetLastError, otherwise: kErrorFileTooLarge for a larger file,
// kErrorNotPlainFile for anything that is not a plain file.
bool ReadFileAt(Handle folder, const std::string& name, std::size_t most, std::string& bytes,
                FileState* state = nullptr);
extern const std::uint32_t kErrorFileTooLarge;
extern const std::uint32_t kErrorNotPlainFile;

// Gives the file `to` in the folder what else the file read with `state`
// had: its permissions and owner on Linux, its read-only, system and
// archive attributes on Windows; `hidden` says whether it was hidden
// (Windows: the attribute goes with the name, HideFileA).  Non-zero on
// success; a file whose owner cannot be kept fails (EPERM).
std::int32_t KeepFileState(Handle folder, const FileState& state, const std::string& to, bool& hidden);

// ---- text -------------------------------------------------------------------

// UTF-8 as text, whatever the ANSI code page; an invalid byte becomes a
// character that names no file (Linux: a lone surrogate, as in the
// argument words; Windows: U+FFFD).
std::u16string FromUtf8(std::string_view bytes);

// The platform's default conversion to the ANSI code page: a character the
// code page cannot hold becomes its best fit or '?'.
std::string ToAnsi(std::u16string_view text);

// The conversion only when every character survives it exactly.
std::optional<std::string> ToAnsiExact(std::u16string_view text);

std::u16string FromAnsi(std::string_view bytes);

// Upper case the way the system's user interface does it.
std::u16string UpperCase(std::u16string_view text);

// The text with each %NAME% that names an environment variable of the
// system's replaced by its value, as ExpandEnvironmentStrings does; an
// unknown one stays as it is.  On Linux, the variables Wine gives a prefix
// (SystemRoot, windir, ProgramFiles, USERPROFILE...), for paths of it.
std::u16string ExpandVariables(std::u16string_view text);

// ---- reading a file (mklnk --read) -------------------------------------------

enum class FileRead { kRead, kNotFound, kFolder, kNotAFile, kFailed };

// The bytes of the file at `path`, at most `most` of them (`cut` says
// whether there were more).  Anything but a regular file is refused
// unopened or unread: a folder, a device, a pipe (whose reading could
// wait forever).  kFailed leaves the system's reason in GetLastError.
FileRead ReadWholeFile(const std::u16string& path, std::size_t most, std::string& bytes, bool& cut);

// ---- the process ------------------------------------------------------------

// The command line without the program's own name.  The same on every call.
std::u16string RawArgumentString();

// The same as the words the system handed over one by one, where it hands
// them over so (Linux's argv after the program's name): true, and the
// words; false where a program gets one raw command line (Windows).
bool ArgumentWords(std::vector<std::u16string>& words);

// The raw argument string of such words, as the system that splits a
// command line into words would be handed it: joined by single spaces, a
// word in double quotes when it is empty, or holds a space and no double
// quote.  RawArgumentString() on Linux is this of all the words.
inline std::u16string JoinArgumentWords(const std::vector<std::u16string>& words) {
  std::u16string raw;
  for (const std::u16string& word : words) {
    if (&word != &words.front()) raw += u' ';
    const bool quote = word.empty() || (word.find(u' ') != std::u16string::npos && word.find(u'"') == std::u16string::npos);
    if (quote) raw += u'"';
    raw += word;
    if (quote) raw += u'"';
  }
  return raw;
}

// The running executable's file name without folder and extension.
std::u16string ExecutableBaseName();

// The FileDescription of the executable's version information.
std::u16string FileDescription();

// Its ProductVersion ("1.00.0002").
std::u16string ProductVersion();

// Whether the command answers --help and --version, as every command is
// expected to on Linux; a Windows program takes /? and /help alone.
bool AnswersLongOptions();

// This process's number: no other process has it while this one runs.
std::uint32_t ProcessId();

// Ctrl+C, Ctrl+Break and the console's closing (Windows), SIGINT, SIGTERM
// and SIGHUP (Linux) are held back from DeferInterrupts to AllowInterrupts
// and take effect then: a run never ends between making its temporary file
// and renaming or removing it.  The calls nest: the interrupts take effect
// at the AllowInterrupts that matches the first DeferInterrupts.
void DeferInterrupts();
void AllowInterrupts();

// ---- Shell automation objects -----------------------------------------------
//
// A thin mirror of the Shell's automation interfaces, one class per COM
// interface the link writer uses.  Ownership is a unique_ptr per reference;
// dropping it is the Release.  A call that the Shell fails throws
// ShellFailure with the description the system gives for the failure.  A
// null answer (no such folder, no such item, no link object) is a null
// pointer, as the Shell gives it.

struct ShellFailure {
  std::u16string description;
  std::uint32_t reason = 0;  // the system's reason (GetLastError's numbers), when there is one
};

// What the command line says a link holds besides its target (lnk/properties.h),
// and how its target is known.
struct LinkProperties : lnk::Properties {
  // A target this machine does not have, known by its path alone, and
  // whether it is a folder (the command line's /TYPE): the link is made for
  // the machine that has it.
  bool targetNotHere = false;
  bool targetIsFolder = false;
};

class ShellLinkObject {  // IShellLinkDual
 public:
  virtual ~ShellLinkObject() = default;
  virtual void SetPath(const std::u16string& path) = 0;
  // What the link holds besides its target, its paths made full by the
  // caller: each member that differs from its default is set, and only
  // those (IShellLinkDual sets the description, working directory and
  // arguments always).  The "run as administrator" flag and the
  // AppUserModelID, which IShellLinkDual cannot set, are stored once the
  // link is saved, by the system's link object.
  virtual void SetProperties(const lnk::Properties& properties) = 0;
  // Instead of SetPath, for a target on a drive that this machine does not
  // have, or not there: stored as Windows stores a path it cannot look at
  // (an item per name, each but the last a folder, the last as `isFolder`
  // says, no sizes, times or volume), so that no name is rewritten.
  virtual void SetPathNotHere(const std::u16string& path, bool isFolder) = 0;
  // Writes the link into the file it was opened from; the caller has it on
  // disk afterwards (FlushFileA), with others where it makes many.  A
  // failure to write that file (no room, an I/O error) is a ShellFailure
  // with the system's reason and no description: the caller knows which
  // link the user asked for.
  virtual void Save() = 0;
};

class FolderItemObject {  // FolderItem
 public:
  virtual ~FolderItemObject() = default;
  virtual std::u16string Path() = 0;
  virtual std::unique_ptr<ShellLinkObject> GetLink() = 0;
};

class FolderItemsObject {  // FolderItems
 public:
  virtual ~FolderItemsObject() = default;
  virtual std::unique_ptr<FolderItemObject> Item(const std::u16string& name) = 0;
};

class FolderObject {  // Folder (and Folder2 for Self)
 public:
  virtual ~FolderObject() = default;
  virtual std::unique_ptr<FolderItemObject> Self() = 0;
  virtual std::unique_ptr<FolderItemsObject> Items() = 0;
};

class ShellObject {  // IShellDispatch
 public:
  virtual ~ShellObject() = default;
  virtual std::unique_ptr<FolderObject> NameSpace(const std::u16string& folder) = 0;
};

// A new Shell object; throws ShellFailure when none can be made.
std::unique_ptr<ShellObject> CreateShell();

// Tests put a fake Shell in place of the system's; nullptr restores it.
using ShellFactory = std::unique_ptr<ShellObject> (*)();
void SetShellFactory(ShellFactory factory);

}  // namespace platform
