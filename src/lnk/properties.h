// What a user sets on a link besides its target: the one list of these
// fields, which the option reader fills, the link objects of both builds
// keep and the builder writes (LinkData holds them too).  Each member's
// default is what a link holds when nothing is said.
#pragma once

#include <cstdint>
#include <string>

namespace lnk {

struct Properties {
  std::u16string arguments;         // for the target; none when empty
  std::u16string description;       // the comment; none when empty
  std::u16string workingDirectory;  // none when empty (the command line: the target's folder)
  std::u16string iconLocation;      // empty: the target's own icon
  std::int32_t iconIndex = 0;
  std::uint32_t showCommand = 1;    // SW_SHOWNORMAL 1, SW_SHOWMAXIMIZED 3, SW_SHOWMINNOACTIVE 7
  std::uint16_t hotKey = 0;         // low byte the virtual key, high byte HOTKEYF_SHIFT 1, CONTROL 2, ALT 4
  bool runAsAdministrator = false;  // SLDF_RUNAS_USER
  // System.AppUserModel.ID in the link's property store: the application
  // whose taskbar button and notifications the link belongs to; none when
  // empty.
  std::u16string appId;
};

}  // namespace lnk
