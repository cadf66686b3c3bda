// Fuzz target for the command-line splitter.  Every input is a raw argument
// string; the properties below hold for any string the user can type, and
// the first one that fails aborts with the input saved by libFuzzer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "fuzz_input.h"

namespace {

using mklnk::cli::Outcome;
using std::u16string;

constexpr std::size_t npos = u16string::npos;

bool IsSubstring(const u16string& part, const u16string& whole) { return whole.find(part) != npos; }

u16string Trim(const u16string& s) {
  const std::size_t first = s.find_first_not_of(u' ');
  if (first == npos) return {};
  return s.substr(first, s.find_last_not_of(u' ') - first + 1);
}

bool HasEdgeSpace(const u16string& s) { return !s.empty() && (s.front() == u' ' || s.back() == u' '); }

// A string that begins and ends with a double quote kept them only because
// it holds a space.
bool QuotesEncloseSpace(const u16string& s) {
  if (s.size() < 2 || s.front() != u'"' || s.back() != u'"') return true;
  return s.find(u' ') != npos;
}

std::size_t Count(const u16string& s, char16_t c) {
  std::size_t n = 0;
  for (char16_t x : s) n += x == c;
  return n;
}

void Check(const u16string& raw) {
  const mklnk::cli::SplitResult r = mklnk::cli::SplitArguments(raw);

  // The shape of the line, found here without the splitter's own helpers.
  const std::size_t quotes = Count(raw, u'"');
  const std::size_t q1 = raw.find(u'"');
  const std::size_t q2 = q1 == npos ? npos : raw.find(u'"', q1 + 1);
  const std::size_t space = raw.find(u' ');
  const bool hasSpace = space != npos;
  const bool beginsQuote = !raw.empty() && raw.front() == u'"';
  const bool beginsSlash = !raw.empty() && raw.front() == u'/';
  const bool showArgs = raw.find(u"/showargs") != npos;
  const bool slash = raw.find(u'/') != npos;

  // The lines the splitter cannot take apart.
  const bool noPairNoSpace = quotes < 2 && !hasSpace;
  const bool noPairSlashFirst = quotes < 2 && beginsSlash;
  const bool pairNoSpace = quotes >= 2 && !hasSpace;
  const bool quotedLinkNothingAfter = beginsQuote && quotes == 2 && raw.find(u' ', q2) == npos;
  const bool quotedLinkOpenTarget = beginsQuote && hasSpace && quotes == 3;
  const bool unsplittable =
      noPairNoSpace || noPairSlashFirst || pairNoSpace || quotedLinkNothingAfter || quotedLinkOpenTarget;

  // Exactly one outcome, and the right one.
  FUZZ_CHECK(r.outcome == Outcome::Usage || r.outcome == Outcome::Echo || r.outcome == Outcome::Run);
  const Outcome expected = unsplittable ? Outcome::Usage
                           : showArgs   ? Outcome::Echo
                           : slash      ? Outcome::Usage
                                        : Outcome::Run;
  FUZZ_CHECK(r.outcome == expected);

  if (r.outcome == Outcome::Usage) {
    FUZZ_CHECK(r.link.empty() && r.target.empty());
    return;
  }

  // No character invented: both strings are cut from the line.
  FUZZ_CHECK(IsSubstring(r.link, raw));
  FUZZ_CHECK(IsSubstring(r.target, raw));
  FUZZ_CHECK(QuotesEncloseSpace(r.link));
  FUZZ_CHECK(QuotesEncloseSpace(r.target));
  FUZZ_CHECK(!HasEdgeSpace(r.link));
  if (r.outcome == Outcome::Run) FUZZ_CHECK(r.target.find(u'/') == npos);

  if (quotes < 2 || !beginsQuote) {
    // Unquoted link: the text before the first space; the target comes
    // from the rest, trimmed.
    FUZZ_CHECK(r.link == raw.substr(0, space));
    const u16string rest = Trim(raw.substr(space));
    if (quotes < 2) {
      // The trimmed rest, cut before its first "/".
      FUZZ_CHECK(!HasEdgeSpace(r.target));
      FUZZ_CHECK(rest.compare(0, r.target.size(), r.target) == 0);
      if (r.target.size() < rest.size()) FUZZ_CHECK(Trim(rest.substr(r.target.size())).front() == u'/');
    } else if (rest.find(u' ') != npos) {
      FUZZ_CHECK(r.target == rest);
    } else {
      // A rest without a space gives way to what the line's first two
      // double quotes enclose, untrimmed, wherever they lie.
      FUZZ_CHECK(r.target == raw.substr(q1 + 1, q2 - q1 - 1));
    }
  } else {
    // Quoted link: with its double quotes only when it holds a space.
    const u16string quoted = raw.substr(0, q2 + 1);
    FUZZ_CHECK(r.link == (quoted.find(u' ') != npos ? quoted : raw.substr(1, q2 - 1)));
    FUZZ_CHECK(!HasEdgeSpace(r.target));
    if (quotes == 2) {
      // The first word after the next space.
      const u16string rest = Trim(raw.substr(raw.find(u' ', q2)));
      FUZZ_CHECK(r.target == rest.substr(0, rest.find(u' ')));
    } else {
      // The third and fourth double quote enclose the target, kept only
      // when it holds a space.
      const std::size_t q3 = raw.find(u'"', q2 + 1);
      const std::size_t q4 = raw.find(u'"', q3 + 1);
      const u16string inner = raw.substr(q3 + 1, q4 - q3 - 1);
      FUZZ_CHECK(r.target == (inner.find(u' ') != npos ? raw.substr(q3, q4 - q3 + 1) : inner));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(fuzz::Decode(data, size));
  return 0;
}
