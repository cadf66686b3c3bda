#include "fs/paths.h"

#include <optional>
#include <string>

#include "common/text.h"
#include "platform/platform.h"

namespace mklnk::fs {

namespace {

// The bytes to hand the system for a path, or nothing when the path cannot
// name an existing entry: a character the ANSI code page cannot hold would
// come through as '?', a wildcard or some other file's name.  (Wildcards
// typed as such are the platform's: it finds nothing for them where the
// system would expand them.)
std::optional<std::string> SystemPath(const std::u16string& path) { return platform::ToAnsiExact(path); }

bool Blank(const std::u16string& path) { return text::Trim(path).empty(); }

}  // namespace

std::u16string StripQuotes(std::u16string path) {
  const std::size_t closing = text::Find(path, u"\"", 2);
  if (closing > 0 && closing == path.size()) path.pop_back();
  if (!path.empty() && path.front() == u'"') path.erase(0, 1);
  return path;
}

bool FileExists(std::u16string path) {
  if (Blank(path)) return false;
  if (path.back() == u'\\') path.pop_back();
  const auto bytes = SystemPath(StripQuotes(path));
  if (!bytes) return false;
  platform::FindData data;
  const platform::Handle search = platform::FindFirstFileA(*bytes, data);
  if (search == platform::kInvalidHandle) return false;
  platform::FindClose(search);
  return (data.attributes & platform::kAttrDirectory) == 0;
}

bool FolderExists(const std::u16string& path) {
  if (Blank(path)) return false;
  const auto bytes = SystemPath(StripQuotes(path));
  if (!bytes) return false;
  const std::uint32_t attributes = platform::GetFileAttributesA(*bytes);
  return attributes != platform::kInvalidFileAttributes && (attributes & platform::kAttrDirectory) != 0;
}

std::u16string GetCurDir() {
  const auto needed = static_cast<std::int32_t>(platform::GetCurrentDirectoryA(0, nullptr));
  if (needed <= 0) return {};
  std::string buffer(static_cast<std::size_t>(needed), ' ');
  const auto written = static_cast<std::int32_t>(
      platform::GetCurrentDirectoryA(static_cast<std::uint32_t>(buffer.size()), buffer.data()));
  // A directory that grew between the two queries answers its new size, not
  // a length; then the buffer holds nothing usable.
  if (written <= 0 || static_cast<std::size_t>(written) >= buffer.size()) return {};
  buffer.resize(static_cast<std::size_t>(written));
  return platform::FromAnsi(buffer);
}

std::u16string FolderPartOf(std::u16string_view path, bool isFolder, std::u16string_view curDir) {
  const std::size_t last = path.rfind(u'\\');
  if (last == std::u16string_view::npos) return std::u16string(curDir);
  return std::u16string(isFolder ? path : path.substr(0, last + 1));
}

std::u16string FilePartOf(std::u16string_view path, bool isFolder) {
  const std::size_t last = path.rfind(u'\\');
  if (last == std::u16string_view::npos) return std::u16string(path);
  return isFolder ? std::u16string() : std::u16string(path.substr(last + 1));
}

PathParts SplitPath(const std::u16string& path, std::optional<bool> isFolder) {
  if (path.find(u'\\') == std::u16string::npos) return {GetCurDir(), path};
  const bool folder = isFolder ? *isFolder : FolderExists(path);
  return {FolderPartOf(path, folder, {}), FilePartOf(path, folder)};
}

std::u16string FullPath(const std::u16string& path) {
  if (path.empty()) return path;
  const auto bytes = platform::ToAnsiExact(path);
  if (!bytes) return {};
  std::u16string full = platform::FromAnsi(platform::GetFullPathNameA(*bytes));
  if (full.empty()) return full;
  // The long-path prefix is for the system's calls; a path that is stored
  // or shown goes without it.
  if (full.starts_with(u"\\\\?\\UNC\\")) {
    full.replace(0, 8, u"\\\\");
  } else if (full.size() >= 7 && full.starts_with(u"\\\\?\\") && full[5] == u':' && full[6] == u'\\') {
    full.erase(0, 4);
  }
  if (full.size() >= 2 && full[1] == u':' && full[0] >= u'a' && full[0] <= u'z') {
    full[0] = static_cast<char16_t>(full[0] - u'a' + u'A');
  }
  return full;
}

std::u16string TooLongForLink(LinkPath kind, std::u16string_view path) {
  // The path as it counts, which is also how the line shows it.
  std::u16string counted(path);
  const bool endsInBackslash = !path.empty() && path.back() == u'\\';
  if (kind == LinkPath::kTarget && endsInBackslash && path.size() > 3) counted.pop_back();  // a root keeps it
  if (kind == LinkPath::kWorkingDirectory && !endsInBackslash) counted += u'\\';
  if (counted.size() <= kMaxLinkPath) return {};
  static constexpr std::u16string_view kWhat[] = {u"the target \"", u"the working directory \"", u"the link file \"",
                                                  u"the icon file \""};
  char16_t digits[20];
  std::size_t first = std::size(digits);
  for (std::size_t n = counted.size(); n > 0; n /= 10) digits[--first] = static_cast<char16_t>(u'0' + n % 10);
  static_assert(kMaxLinkPath == 259, "the line says so");
  std::u16string line(kWhat[static_cast<int>(kind)]);
  line.append(counted).append(u"\" is too long for a link: ");
  line.append(digits + first, std::size(digits) - first).append(u" characters (259 at most).");
  return line;
}

bool IsEnvironmentPath(std::u16string_view path) {
  const std::size_t closing = path.size() > 2 && path[0] == u'%' ? path.find(u'%', 1) : std::u16string_view::npos;
  return closing != std::u16string_view::npos && closing > 1;
}

bool IsFullPath(std::u16string_view path) {
  return path.starts_with(u"\\\\") || (path.size() >= 3 && path[1] == u':' && path[2] == u'\\');
}

std::u16string LinkNameOf(std::u16string_view fullPath) {
  std::u16string_view path = fullPath;
  while (path.size() > 1 && (path.back() == u'\\' || path.back() == u'/')) path.remove_suffix(1);
  if (path.size() == 2 && path[1] == u':' && (path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z') {
    return std::u16string(1, path[0]);  // a drive's root
  }
  const std::size_t last = path.find_last_of(u"\\/");
  std::u16string_view name = last == std::u16string_view::npos ? path : path.substr(last + 1);
  if (name.size() > 2 && name.front() == u'%' && name.find(u'%', 1) == name.size() - 1) {
    name = name.substr(1, name.size() - 2);
  }
  return std::u16string(name);
}

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A name that Windows and Wine open as a device, not a file.
bool DeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  const std::u16string upper = platform::UpperCase(base);
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL") return true;
  return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
         std::u16string_view(u"123456789\u00b9\u00b2\u00b3").find(upper[3]) != std::u16string_view::npos;
}

// "\\?\" or "\\.\": the long-path form, or the device form.
bool HasDevicePrefix(std::u16string_view path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == u'?' || path[2] == u'.') &&
         IsSeparator(path[3]);
}

// The `n`-th name of a path (from 0), empty ones (runs of separators)
// dropped; "" when it has fewer.
std::u16string_view NameAt(std::u16string_view path, std::size_t n) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    if (i > start && n-- == 0) return path.substr(start, i - start);
    start = i + 1;
  }
  return {};
}

}  // namespace

bool ValidFileName(std::u16string_view name) {
  for (const char16_t c : name) {
    if (c < 32 || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) return false;
  }
  return !DeviceName(name);
}

std::u16string InvalidName(std::u16string_view path) {
  if (HasDevicePrefix(path)) path.remove_prefix(4);
  if (path.size() >= 2 && path[1] == u':' && ((path[0] | 0x20) >= u'a' && (path[0] | 0x20) <= u'z')) {
    path.remove_prefix(2);
  }
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::u16string_view name = path.substr(start, i - start);
    if (!name.empty() && !ValidFileName(name)) return std::u16string(name);
    start = i + 1;
  }
  return {};
}

std::u16string NetworkPathFault(std::u16string_view path) {
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return {};
  const std::u16string quoted = u"the target \"" + std::u16string(path) + u"\"";
  if (HasDevicePrefix(path)) {
    const std::u16string_view rest = path.substr(4);
    const bool longDrive = path[2] == u'?' && rest.size() >= 3 && rest[1] == u':' && IsSeparator(rest[2]);
    const bool longShare = path[2] == u'?' && rest.size() >= 4 && platform::UpperCase(rest.substr(0, 3)) == u"UNC" &&
                           IsSeparator(rest[3]);
    if (longDrive) return {};
    if (!longShare) return quoted + u" is a device's path, not a file's or a folder's";
    path = rest.substr(3);  // "\server\share\...", checked as "\\server\share\..."
  } else {
    path.remove_prefix(1);
  }
  if (NameAt(path, 1).empty() || IsSeparator(path[1])) {
    return quoted + u" names no share: a network path is \\\\server\\share\\...";
  }
  for (std::size_t i = 0; i < 2; ++i) {
    const std::u16string_view name = NameAt(path, i);
    if (!ValidFileName(name) || name == u"." || name == u"..") {
      return quoted + (i == 0 ? u" names the server \"" : u" names the share \"") + std::u16string(name) +
             u"\", which Windows does not take";
    }
  }
  return {};
}

std::u16string JoinPath(std::u16string folder, const std::u16string& name) {
  if (folder.empty() || folder.back() != u'\\') folder += u'\\';
  return folder + name;
}

}  // namespace mklnk::fs
