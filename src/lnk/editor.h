// Changing a link's bytes: the fields asked for, and every other byte as it
// was.
//
// Pure, as the builder and the reader are: the file's bytes in, the new
// bytes out, no system call.  Both builds edit with it (the system's link
// object, loading and saving again, would rewrite what it does not know
// and, under Wine, lose the show command and the run-as flag), so a file
// edited by either is the same bytes.  What the platform knows (a new
// target's parts, which only a link made to it can tell, the letter-case
// folding of file names) comes in from the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lnk {

// Upper case as the system compares file names.
using FoldCase = std::u16string (*)(std::u16string_view);

// --replace: every stored path that begins with `from` at a name boundary,
// compared as `fold` makes letters, begins with `to` instead.  Both full
// paths ("C:\dir", "\\server\share"), without a closing backslash but a
// drive root's.
struct PathChange {
  std::u16string from, to;
  FoldCase fold = nullptr;
};

// What to change; what is not given stays.  An empty string removes the
// string and its flag.
struct LinkEdit {
  std::optional<std::u16string> arguments, description, workingDirectory;
  std::optional<std::u16string> iconLocation;  // as it leads here; "" removes it
  std::u16string iconEnvironment;              // the icon location as typed with %VARIABLES%, or ""
  std::int32_t iconIndex = 0;
  std::optional<std::uint32_t> showCommand;
  std::optional<std::uint16_t> hotKey;
  std::optional<bool> runAsUser;
  std::optional<std::u16string> appId;  // System.AppUserModel.ID; "" removes it
  // A new target: the bytes of a link to it, made as a new link is made in
  // the edited link's folder; its target parts (the header's facts of the
  // target, the item list, the LinkInfo, the relative path, the
  // environment block) take the old ones' places, and the blocks that
  // describe the old target go.  The working directory follows only where
  // it was the old target's folder.
  std::optional<std::string> targetLink;
  std::optional<PathChange> replace;
  // The edited link's folder ("C:\links"), against which a relative path
  // is resolved and made anew.
  std::u16string linkFolder;
  // How file names compare: whether the working directory was the old
  // target's folder.
  FoldCase fold = nullptr;
};

struct FieldChange {
  std::u16string field;          // "arguments", "target", ...
  std::u16string before, after;  // as text; "" for none
};

struct EditResult {
  std::string bytes;                      // the new file; the old bytes when nothing changed
  std::vector<FieldChange> changes;       // what changed, in the file's order
  std::vector<std::u16string> textHolds;  // of "arguments", "description": those that hold the old path
};

// The edited file.  Throws the reader's error for bytes that are no link
// it can read, and LinkDataError for a change the file cannot hold.
EditResult EditLink(std::string_view file, const LinkEdit& edit);

}  // namespace lnk
