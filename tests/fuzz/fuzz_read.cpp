// Fuzz target for the link reader: any bytes split into a link, joined
// again to the same bytes, described, and printed in every form the read
// mode has; the JSON line is plain ASCII whatever the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/read.h"
#include "fuzz_input.h"
#include "lnk/link.h"
#include "lnk/view.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lnk::Link link;
  if (lnk::ReadLink(bytes, link) != lnk::ReadStatus::kLink) return 0;
  FUZZ_CHECK(lnk::WriteLink(link) == bytes);
  const lnk::LinkView view = lnk::Describe(link);
  mklnk::cli::TextLines(u"f.lnk", link, view);
  mklnk::cli::CommandLines(u"f.lnk", link, view, size % 2 == 0);
  for (const char16_t c : mklnk::cli::JsonLine(u"f.lnk", link, view)) FUZZ_CHECK(c >= 0x20 && c < 0x7F);
  return 0;
}
