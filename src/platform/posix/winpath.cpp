// Windows paths on Linux (see winpath.h).  This file is divided into:
//   - parsing: the names of a path, its drive or share;
//   - the drives: the Wine prefix's drive table, read once, and the
//     current directory in Windows form;
//   - full paths: GetFullPathName's rules on text, and the mapping of a full
//     Windows path onto a Linux one;
//   - Wine's name lookup: a name not on disk as written, matched in another
//     letter case.
#include "platform/posix/winpath.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "config.h"
#include "platform/platform.h"
#include "platform/posix/text.h"

namespace platform::posix {

// ---- parsing ---------------------------------------------------------------------------

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsUnc(std::string_view p) { return p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1]); }

// A full path taken apart: "X:" or "\\server\share" and the names below it.
struct Rooted {
  std::string root;
  std::vector<std::string> names;
};

// Splits a full Windows path (drive or UNC form) into root and names.
std::optional<Rooted> SplitFull(std::string_view full) {
  Rooted r;
  std::string_view below;
  if (HasDrive(full)) {
    r.root = std::string(full.substr(0, 2));
    below = full.substr(2);
  } else if (IsUnc(full)) {
    // Server and share belong to the root: ".." never climbs above them.
    std::vector<std::string_view> names = SplitNames(full.substr(2));
    r.root = "\\\\";
    std::size_t used = 0;
    for (; used < names.size() && used < 2; ++used) {
      if (used > 0) r.root += '\\';
      r.root += names[used];
    }
    for (std::size_t i = used; i < names.size(); ++i) r.names.emplace_back(names[i]);
    return r;
  } else {
    return std::nullopt;
  }
  for (std::string_view n : SplitNames(below)) r.names.emplace_back(n);
  return r;
}

// The Wine prefix in use, without trailing '/'; "" when there is none we
// can trust (Wine itself refuses a relative prefix).
std::string WinePrefix() {
  std::string prefix;
  const char* env = std::getenv("WINEPREFIX");
  if (env != nullptr && *env != '\0') {
    prefix = env;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return "";
    prefix = std::string(home) + "/.wine";
  }
  if (prefix.empty() || prefix[0] != '/') return "";
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  return prefix == "/" ? "" : prefix;
}

std::optional<std::string> RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

std::optional<std::string> CurrentDirectoryUnix() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::char_traits<char>::length(buffer.c_str()));
      // glibc answers ENOENT for a directory outside our root, but be sure:
      // only an absolute path can be put in Windows form.
      if (buffer.empty() || buffer[0] != '/') return std::nullopt;
      return buffer;
    }
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::nullopt;
    buffer.assign(buffer.size() * 2, '\0');
  }
}

// Whether the path needs the current directory to be made full.
bool NeedsCurrentDirectory(std::string_view p) {
  if (IsUnc(p)) return false;  // the long-path form "\\?\C:\" included
  if (IsFullDrivePath(p)) return false;
  return true;
}

}  // namespace

bool HasDrive(std::string_view p) { return p.size() >= 2 && IsAsciiLetter(p[0]) && p[1] == ':'; }

bool IsFullDrivePath(std::string_view p) { return HasDrive(p) && p.size() > 2 && IsSeparator(p[2]); }

std::vector<std::string_view> SplitNames(std::string_view text) {
  std::vector<std::string_view> names;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || IsSeparator(text[i])) {
      if (i > start) names.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return names;
}

// ---- the drives ------------------------------------------------------------------------

namespace {

struct Drive {
  char letter;       // lower case
  std::string root;  // $WINEPREFIX/dosdevices/x:
  std::string real;  // where that is, links resolved; "" when unknown
};

// The drives of the Wine prefix: every entry "x:" of its dosdevices folder
// that leads to a folder.  Read once per prefix and process, with one
// listing of that folder, instead of a look at every letter each time.
const std::vector<Drive>& Drives() {
  static bool known = false;
  static std::string knownPrefix;
  static std::vector<Drive> drives;
  const std::string prefix = WinePrefix();
  if (known && prefix == knownPrefix) return drives;
  known = true;
  knownPrefix = prefix;
  drives.clear();
  if (prefix.empty()) return drives;
  const std::string folder = prefix + "/dosdevices/";
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return drives;
  // The stream is ours alone; readdir_r, which cppcheck would have instead,
  // is deprecated by glibc.
  // cppcheck-suppress readdirCalled
  while (const dirent* entry = readdir(listing)) {
    const char* name = entry->d_name;
    if (name[0] < 'a' || name[0] > 'y' || name[1] != ':' || name[2] != '\0') continue;
    Drive drive{name[0], folder + name, ""};
    struct stat st;
    if (stat(drive.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    drive.real = RealPath(drive.root).value_or("");
    drives.push_back(std::move(drive));
  }
  closedir(listing);
  // In letter order, as Windows counts drives: the first of two equal
  // candidates wins.
  std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  return drives;
}

}  // namespace

std::optional<std::string> DriveRoot(char letter) {
  if (!IsAsciiLetter(letter)) return std::nullopt;
  const char lower = AsciiLower(letter);
  if (lower == 'z') return std::string("/");
  const std::vector<Drive>& drives = Drives();
  const auto drive = std::find_if(drives.begin(), drives.end(), [lower](const Drive& d) { return d.letter == lower; });
  if (drive == drives.end()) return std::nullopt;
  return drive->root;
}

std::string UnixToWindows(std::string_view unixPath) {
  char bestLetter = 'Z';
  std::string_view bestRoot = "/";
  for (const Drive& drive : Drives()) {
    const std::string& real = drive.real;
    // A drive that is the whole file system again is no better than Z:.
    if (real.empty() || real == "/" || real.size() <= bestRoot.size()) continue;
    const bool under = unixPath.substr(0, real.size()) == real &&
                       (unixPath.size() == real.size() || unixPath[real.size()] == '/');
    if (under) {
      bestLetter = AsciiUpper(drive.letter);
      bestRoot = real;
    }
  }
  std::string rest(unixPath.substr(bestRoot == "/" ? 0 : bestRoot.size()));
  std::string out{bestLetter, ':'};
  for (std::string_view name : SplitNames(rest)) {
    out += '\\';
    out += name;
  }
  if (out.size() == 2) out += '\\';
  return out;
}

std::optional<std::string> CurrentDirectoryWindows() {
  const std::optional<std::string> cwd = CurrentDirectoryUnix();
  if (!cwd) return std::nullopt;
  if (!IsUtf8(*cwd)) {
    errno = EILSEQ;
    return std::nullopt;
  }
  return UnixToWindows(*cwd);
}

// ---- full paths ------------------------------------------------------------------------

std::string FullWindowsPath(std::string_view path, std::string_view cwd) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return "";
  // "\\?\C:\..." is Windows' long-path form of "C:\...".
  if (path.substr(0, 4) == "\\\\?\\" && IsFullDrivePath(path.substr(4))) {
    path.remove_prefix(4);
  }

  Rooted base;
  std::string_view rest;
  std::vector<std::string> uncNames;  // below \\server\share, still to collapse
  if (IsUnc(path)) {
    std::optional<Rooted> r = SplitFull(path);
    if (!r) return "";
    base.root = std::move(r->root);
    uncNames = std::move(r->names);
  } else if (IsFullDrivePath(path)) {
    base.root = std::string(path.substr(0, 2));
    rest = path.substr(3);
  } else if (HasDrive(path)) {
    // "C:name": we keep no current directory per drive, so the process's
    // current directory counts when it is on that drive, the root otherwise.
    rest = path.substr(2);
    if (HasDrive(cwd) && AsciiLower(cwd[0]) == AsciiLower(path[0])) {
      std::optional<Rooted> r = SplitFull(cwd);
      if (!r) return "";
      base = std::move(*r);
    } else {
      base.root = std::string{AsciiUpper(path[0]), ':'};
    }
  } else {
    std::optional<Rooted> r = SplitFull(cwd);
    if (!r) return "";
    base = std::move(*r);
    if (IsSeparator(path[0])) {
      base.names.clear();  // "\name": the root of the current drive
      rest = path.substr(1);
    } else {
      rest = path;
    }
  }

  const auto add = [&base](std::string_view name) {
    if (name == ".") return;
    if (name == "..") {
      if (!base.names.empty()) base.names.pop_back();
      return;
    }
    base.names.emplace_back(name);
  };
  for (const std::string& name : uncNames) add(name);
  for (std::string_view name : SplitNames(rest)) add(name);

  std::string out = base.root;
  for (const std::string& name : base.names) {
    out += '\\';
    out += name;
  }
  // A drive's root always ends in its separator; any other path keeps the
  // trailing one it came with (a bare "\\" root has it already).
  const bool driveRoot = HasDrive(out) && base.names.empty();
  if (driveRoot || (IsSeparator(path.back()) && out != "\\\\")) out += '\\';
  return out;
}

std::string FullWindowsPath(std::string_view path) {
  if (!NeedsCurrentDirectory(path)) return FullWindowsPath(path, "");
  const std::optional<std::string> cwd = CurrentDirectoryWindows();
  if (!cwd) return "";
  return FullWindowsPath(path, *cwd);
}

std::optional<Root> RootOf(std::string_view fullPath) {
  // A drive's folder, or a share's where Wine keeps it.  A drive that is
  // not mapped names nothing.
  if (IsFullDrivePath(fullPath)) {
    std::optional<std::string> folder = DriveRoot(fullPath[0]);
    if (!folder) return std::nullopt;
    return Root{std::move(*folder), 3};
  }
  const std::optional<Rooted> unc = IsUnc(fullPath) ? SplitFull(fullPath) : std::nullopt;
  if (!unc || unc->root.find('\\', 2) == std::string::npos || fullPath[2] == '?' || fullPath[2] == '.' ||
      WinePrefix().empty()) {
    return std::nullopt;
  }
  std::string folder = WinePrefix() + "/dosdevices/unc/" + unc->root.substr(2);
  folder.replace(folder.rfind('\\'), 1, "/");
  return Root{std::move(folder), unc->root.size() + 1};
}

std::optional<std::string> ToUnixPath(std::string_view windowsPath) {
  const std::string full = FullWindowsPath(windowsPath);
  const std::optional<Root> root = RootOf(full);
  if (!root) {
    errno = ENOENT;
    return std::nullopt;
  }
  // Below the root every '\' becomes '/'.
  std::string out = root->folder;
  if (full.size() > root->below && out.back() != '/') out += '/';
  for (std::size_t i = root->below; i < full.size(); ++i) out += full[i] == '\\' ? '/' : full[i];
  return out;
}

std::string JoinUnix(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

int OpenFolderAt(int at, const char* path) {
#ifdef O_PATH
  return openat(at, path, O_PATH | O_DIRECTORY | O_CLOEXEC);  // needs no read permission
#else
  return openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

namespace {

// The variables Wine sets in every prefix, for the folders of a prefix of
// the 64-bit kind, the user's own from the name Wine gives them ($USER).
std::optional<std::string> WineVariable(std::u16string_view name) {
  static constexpr struct {
    std::u16string_view name;
    std::string_view value;  // "~" stands for C:\users\<user>
  } kVariables[] = {
      {u"SYSTEMDRIVE", "C:"},
      {u"SYSTEMROOT", "C:\\windows"},
      {u"WINDIR", "C:\\windows"},
      {u"COMSPEC", "C:\\windows\\system32\\cmd.exe"},
      {u"PROGRAMFILES", "C:\\Program Files"},
      {u"PROGRAMW6432", "C:\\Program Files"},
      {u"PROGRAMFILES(X86)", "C:\\Program Files (x86)"},
      {u"COMMONPROGRAMFILES", "C:\\Program Files\\Common Files"},
      {u"COMMONPROGRAMW6432", "C:\\Program Files\\Common Files"},
      {u"COMMONPROGRAMFILES(X86)", "C:\\Program Files (x86)\\Common Files"},
      {u"PROGRAMDATA", "C:\\ProgramData"},
      {u"ALLUSERSPROFILE", "C:\\ProgramData"},
      {u"PUBLIC", "C:\\users\\Public"},
      {u"HOMEDRIVE", "C:"},
      {u"HOMEPATH", "\\users\\~"},
      {u"USERPROFILE", "C:\\users\\~"},
      {u"APPDATA", "C:\\users\\~\\AppData\\Roaming"},
      {u"LOCALAPPDATA", "C:\\users\\~\\AppData\\Local"},
      {u"TEMP", "C:\\users\\~\\Temp"},
      {u"TMP", "C:\\users\\~\\Temp"},
  };
  const std::u16string upper = UpperCase(name);
  for (const auto& variable : kVariables) {
    if (upper != variable.name) continue;
    std::string value(variable.value);
    if (const std::size_t user = value.find('~'); user != std::string::npos) {
      const char* login = std::getenv("USER");
      if (login == nullptr || *login == '\0' || std::strpbrk(login, "\\/:") != nullptr) return std::nullopt;
      value.replace(user, 1, login);
    }
    return value;
  }
  return std::nullopt;
}

}  // namespace

// ---- Wine's name lookup -------------------------------------------------------------

namespace {

// The names of the last folder listed, read through a descriptor of it
// that stays open.  A run asks about two names in the link's folder (is the
// link a folder, what stands under the link file's name): one listing
// serves both, and the descriptor is the one the link is then made
// relative to (HoldFolder).  Every change we make to a folder forgets the
// names, or notes the change we made (a new name, a rename, a removal), so
// that a list of links made in one folder lists it once, and finds each
// name without a look at every entry; a change another process makes
// meanwhile is not seen, as with any look before an act.
struct Listing {
  std::string folder;
  int fd = -1;          // the folder, open for reading; -1 when it cannot be
  bool known = false;   // the names below are the folder's
  bool held = false;    // fd is handed out by HoldFolder
  bool read = false;    // fd has been read to its end, and must be rewound first
  // Every name and its type: DT_REG, DT_DIR, ...; DT_UNKNOWN when the
  // system does not say.
  std::unordered_map<std::string, unsigned char> types;
  // The names under their upper case, the key of Wine's lookup.
  std::unordered_map<std::u16string, std::vector<std::string>> byUpper;

  void Add(const std::string& name, unsigned char type) {
    const auto [at, added] = types.emplace(name, type);
    if (!added) {
      at->second = type;
      return;
    }
    byUpper[UpperCase(Utf8ToUtf16(name, true))].push_back(name);
  }
  void Remove(const std::string& name) {
    if (types.erase(name) == 0) return;
    const auto same = byUpper.find(UpperCase(Utf8ToUtf16(name, true)));
    if (same == byUpper.end()) return;
    std::erase(same->second, name);
    if (same->second.empty()) byUpper.erase(same);
  }
};
Listing g_listing;

void ReadNames(Listing& l) {
  l.types.clear();
  l.byUpper.clear();
  const auto add = [&l](const char* name, unsigned char type) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return;
    l.Add(name, type);
  };
#if MKLNK_HAVE_GETDENTS64
  // Straight from the descriptor: no stream to set up and tear down.
  alignas(8) char buffer[32768];
  if (l.read && lseek(l.fd, 0, SEEK_SET) != 0) return;
  l.read = true;
  for (;;) {
    const ssize_t n = getdents64(l.fd, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      add(entry->d_name, entry->d_type);
      at += entry->d_reclen;
    }
  }
#else
  const int copy = dup(l.fd);
  DIR* listing = copy < 0 ? nullptr : fdopendir(copy);
  if (listing == nullptr) {
    if (copy >= 0) close(copy);
    return;
  }
  rewinddir(listing);
  // cppcheck-suppress readdirCalled
  while (const dirent* entry = readdir(listing)) {
#ifdef DT_UNKNOWN
    add(entry->d_name, entry->d_type);
#else
    add(entry->d_name, 0);
#endif
  }
  closedir(listing);
#endif
}

const Listing& ListingOf(const std::string& folder) {
  if (g_listing.known && g_listing.folder == folder) return g_listing;
  if (g_listing.folder != folder || g_listing.fd < 0) {
    // A held descriptor is its holder's to close now.
    if (g_listing.fd >= 0 && !g_listing.held) close(g_listing.fd);
    g_listing = Listing{};
    g_listing.folder = folder;
    g_listing.fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  g_listing.known = true;
  if (g_listing.fd >= 0) ReadNames(g_listing);
  return g_listing;
}

}  // namespace

void ForgetListings() { g_listing.known = false; }

// Whether the kept listing is of `folder`, however many '/' end it.
bool Listed(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return g_listing.known && g_listing.folder == folder;
}

void NoteNewFile(const std::string& folder, const std::string& name) {
  if (Listed(folder)) {
    g_listing.Add(name, DT_REG);
  } else {
    ForgetListings();
  }
}

void NoteRenamed(const std::string& folder, const std::string& from, const std::string& to) {
  if (Listed(folder)) {
    g_listing.Remove(from);
    g_listing.Add(to, DT_REG);
  } else {
    ForgetListings();
  }
}

void NoteRemoved(const std::string& folder, const std::string& name) {
  if (Listed(folder)) {
    g_listing.Remove(name);
  } else {
    ForgetListings();
  }
}

std::optional<unsigned char> ListedType(const std::string& folder, const std::string& name) {
  if (!Listed(folder)) return std::nullopt;
  const auto at = g_listing.types.find(name);
  if (at == g_listing.types.end() || at->second == DT_UNKNOWN) return std::nullopt;
  return at->second;
}

int HoldFolder(std::string& folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (g_listing.folder == folder && g_listing.fd >= 0 && !g_listing.held) {
    g_listing.held = true;
    return g_listing.fd;
  }
  int fd = -1;
  OnDisk(folder, [&](const char* p) { return (fd = OpenFolderAt(AT_FDCWD, p)) >= 0; });
  return fd;
}

void ReleaseFolder(int fd) {
  if (fd < 0) return;
  if (fd == g_listing.fd && g_listing.held) {
    g_listing.held = false;  // the listing keeps it
    return;
  }
  close(fd);
}

std::vector<std::string> MatchNames(const std::string& folder, const std::string& name) {
  // Bytes that are not UTF-8 become lone surrogates, which no name written
  // as text can equal.
  const Listing& listing = ListingOf(folder);
  const auto same = listing.byUpper.find(UpperCase(Utf8ToUtf16(name, true)));
  std::vector<std::string> found;
  if (same != listing.byUpper.end()) found = same->second;
  std::sort(found.begin(), found.end());
  return found;
}

std::optional<std::string> MatchName(const std::string& folder, const std::string& name) {
  const std::vector<std::string> found = MatchNames(folder, name);
  if (found.empty()) {
    errno = ENOENT;
    return std::nullopt;
  }
  return std::find(found.begin(), found.end(), name) != found.end() ? name : found.front();
}

std::string MatchPath(const std::string& unixPath) {
  std::size_t end = unixPath.size();
  while (end > 1 && unixPath[end - 1] == '/') --end;
  const std::size_t slash = end > 1 ? unixPath.rfind('/', end - 1) : std::string::npos;
  if (slash == std::string::npos) return unixPath;
  std::string folder = slash == 0 ? "/" : unixPath.substr(0, slash);
  const std::string name = unixPath.substr(slash + 1, end - slash - 1);
  if (ListingOf(folder).fd < 0) {
    // The folder is not there as written either: match it first.
    std::string matched = MatchPath(folder);
    if (matched == folder) return unixPath;
    folder = std::move(matched);
  }
  const std::optional<std::string> found = MatchName(folder, name);
  return (folder == "/" ? "" : folder) + "/" + found.value_or(name) + unixPath.substr(end);
}

std::string WithNamesOf(std::string_view windowsPath, std::string_view unixPath) {
  const std::vector<std::string_view> names = SplitNames(windowsPath.substr(std::min<std::size_t>(3, windowsPath.size())));
  const std::vector<std::string_view> onDisk = SplitNames(unixPath);
  if (!HasDrive(windowsPath) || onDisk.size() < names.size()) return std::string(windowsPath);
  std::string out(windowsPath.substr(0, 2));
  for (std::size_t i = onDisk.size() - names.size(); i < onDisk.size(); ++i) {
    out += '\\';
    out += onDisk[i];
  }
  if (out.size() == 2 || IsSeparator(windowsPath.back())) out += '\\';
  return out;
}

std::string_view LastComponent(std::string_view windowsPath) {
  std::string_view p = windowsPath;
  while (!p.empty() && IsSeparator(p.back())) p.remove_suffix(1);
  std::size_t start = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (IsSeparator(p[i])) start = i + 1;
  }
  if (start == 0 && HasDrive(p)) start = 2;
  return p.substr(start);
}

}  // namespace platform::posix

namespace platform {

std::u16string ExpandVariables(std::u16string_view text) {
  std::u16string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find(u'%', at);
    const std::size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) break;
    const std::optional<std::string> value = posix::WineVariable(text.substr(open + 1, close - open - 1));
    out += text.substr(at, open - at);
    if (value) {
      out += FromAnsi(*value);
      at = close + 1;
    } else {
      // An unknown name stays, and its closing % may open the next one.
      out += text.substr(open, close - open);
      at = close;
    }
  }
  out += text.substr(at);
  return out;
}

}  // namespace platform
