// Fuzz target for the link editor: any bytes edited in every way an
// option can (strings set and removed, the header's fields, a new target,
// paths replaced); a link it changes reads back whole, one it does not
// change is its bytes, and a path replaced is gone from every path field.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "lnk/builder.h"
#include "lnk/editor.h"
#include "lnk/link.h"
#include "platform/platform.h"

namespace {

std::u16string Fold(std::u16string_view text) { return platform::UpperCase(text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lnk::LinkEdit edit;
  edit.fold = &Fold;
  edit.linkFolder = u"C:\\links";
  switch (size % 5) {
    case 0:
      edit.arguments = u"-v";
      edit.description = u"";
      edit.showCommand = 3;
      break;
    case 1:
      edit.iconLocation = u"C:\\i.ico";
      edit.iconEnvironment = u"%windir%\\i.ico";
      edit.workingDirectory = u"";
      edit.runAsUser = true;
      break;
    case 2:
      edit.replace = lnk::PathChange{u"C:\\Windows", u"D:\\w", &Fold};
      break;
    case 3:
      edit.replace = lnk::PathChange{u"\\\\server\\share", u"\\\\new\\s", &Fold};
      break;
    default: {
      lnk::LinkData target;
      target.targetPath = u"C:\\t.exe";
      target.items.resize(1);
      target.items[0].name = u"t.exe";
      edit.targetLink = lnk::BuildLinkFile(target);
      break;
    }
  }
  lnk::EditResult result;
  try {
    result = lnk::EditLink(bytes, edit);
  } catch (const lnk::LinkDataError&) {
    return 0;
  }
  if (result.changes.empty()) FUZZ_CHECK(result.bytes == bytes);
  lnk::Link link;
  FUZZ_CHECK(lnk::ReadLink(result.bytes, link) == lnk::ReadStatus::kLink);
  FUZZ_CHECK(link.warnings.empty());
  FUZZ_CHECK(lnk::WriteLink(link) == result.bytes);
  return 0;
}
