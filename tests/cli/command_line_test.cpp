#include <gtest/gtest.h>

#include <string>

#include "cli/command_line.h"

namespace {

using mklnk::cli::Outcome;
using mklnk::cli::SplitArguments;

struct Row {
  const char16_t* raw;
  Outcome outcome;
  const char16_t* link;    // checked for echo and run only
  const char16_t* target;
};

constexpr Outcome U = Outcome::Usage;
constexpr Outcome E = Outcome::Echo;
constexpr Outcome R = Outcome::Run;

const Row kRows[] = {
    // Worked examples of the splitting rules.
    {u"a b", R, u"a", u"b"},
    {u"a b c", R, u"a", u"b c"},
    {uR"(C:\Links\report.lnk C:\Data\report.txt)", R, uR"(C:\Links\report.lnk)", uR"(C:\Data\report.txt)"},
    {u"\"a b", R, u"\"a", u"b"},
    {u"\"a b\" c", R, u"\"a b\"", u"c"},
    {u"\"a b\" c d", R, u"\"a b\"", u"c"},
    {u"\"a\" b", R, u"a", u"b"},
    {u"\"a\"x b", R, u"a", u"b"},
    {u"\"a b\" \"c d\"", R, u"\"a b\"", u"\"c d\""},
    {u"\"a\" \"b\"", R, u"a", u"b"},
    {u"\"a\" \"\"", R, u"a", u""},
    {u"\"a\" \"b\" \"c\"", R, u"a", u"b"},
    {u"a \"c d\"", R, u"a", u"\"c d\""},
    {u"a \"cd\"", R, u"a", u"cd"},
    {u"a \"b\" c", R, u"a", u"\"b\" c"},
    {u"a\"b\" c", R, u"a\"b\"", u"b"},
    {u"a", U, u"", u""},
    {u"/x", U, u"", u""},
    {u"/x y", U, u"", u""},
    {u"\"a\"", U, u"", u""},
    {u"\"a b\"", U, u"", u""},
    {u"a b/c", U, u"", u""},
    {u"a b /showargs", E, u"a", u"b"},
    {u"\"a\" b /showargs", E, u"a", u"b"},
    {u"\"a b\" \"c d\" /showargs", E, u"\"a b\"", u"\"c d\""},
    {u"a \"c d\" /showargs", E, u"a", u"\"c d\" /showargs"},
    {u"a \"cd\" /showargs", E, u"a", u"\"cd\" /showargs"},
    {u"a /showargs", E, u"a", u""},
    {u"a b /showargsX", E, u"a", u"b"},
    {u"a b /SHOWARGS", U, u"", u""},
    {u"/showargs a b", U, u"", u""},
    // The switches that start-up passes on.
    {u"/HELP", U, u"", u""},
    {u"/Help", U, u"", u""},
    {u"-?", U, u"", u""},
    {u"/? x", U, u"", u""},
    {u"/help me", U, u"", u""},
    {u"a C:/x", U, u"", u""},
    // The space asked for may lie inside the quoted link.
    {u"\"a b\"\"c\"", R, u"\"a b\"", u"c"},
    {u"\"a\"\"b\"", U, u"", u""},
    // A tab is no separator.
    {u"a\tb", U, u"", u""},
    // A quoted link whose target has an opening but no closing quote cannot
    // be split, even when it asks for the echo.
    {u"\"a b\" \"c d", U, u"", u""},
    {u"\"a\" \"b", U, u"", u""},
    {u"\"a b\" \"c /showargs", U, u"", u""},
    // "/showargs" inside a quoted argument still asks for the echo.
    {u"\"a /showargs\" \"c d\"", E, u"\"a /showargs\"", u"\"c d\""},
    // Leading and trailing spaces.
    {u" a b", R, u"", u"a b"},
    {u"a   b  ", R, u"a", u"b"},
    {u"a ", R, u"a", u""},
    {u"\"\" b", R, u"", u"b"},
    // The quoted link's space search starts at its closing quote.
    {u"\"a\"  b c", R, u"a", u"b"},
    {u"\"a\"x", U, u"", u""},
};

std::string Show(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

TEST(SplitArguments, Table) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(Show(row.raw));
    const mklnk::cli::SplitResult r = SplitArguments(row.raw);
    ASSERT_EQ(static_cast<int>(r.outcome), static_cast<int>(row.outcome));
    if (row.outcome != Outcome::Usage) {
      EXPECT_EQ(Show(r.link), Show(row.link));
      EXPECT_EQ(Show(r.target), Show(row.target));
    }
  }
}

// Positions are not limited to 16 bits: a line longer than 32,767
// characters splits like a short one.
TEST(SplitArguments, LongLines) {
  const std::u16string link(40000, u'l');
  const std::u16string target(70000, u't');
  auto r = SplitArguments(link + u" " + target);
  ASSERT_EQ(r.outcome, Outcome::Run);
  EXPECT_EQ(r.link, link);
  EXPECT_EQ(r.target, target);

  r = SplitArguments(u"\"" + link + u" x\" \"" + target + u"\"");
  ASSERT_EQ(r.outcome, Outcome::Run);
  EXPECT_EQ(r.link.size(), link.size() + 4);
  EXPECT_EQ(r.target, target);
}

}  // namespace
