#include <gtest/gtest.h>

#include <string>

#include "console/line_writer.h"
#include "support/capture.h"

namespace {

struct Row {
  std::u16string text;
  std::string bytes;
};

TEST(ConsoleWriteLine, LineEnds) {
  const Row rows[] = {
      {u"abc", "abc\r\n"},
      {u"abc\r\n", "abc\r\n"},
      {u"abc\r", "abc\r"},
      {u"abc\n", "abc\n"},
      {u"\r\n", "\r\n"},
      {u"a\r\nb", "a\r\nb\r\n"},
      // A text that already ends a line gets no second break, whatever
      // breaks it holds before.
      {u"a\r\nb\r\n", "a\r\nb\r\n"},
      {u"x", "x\r\n"},
      {u"", "\r\n"},
      {u"\n\r", "\n\r"},
      {u"a\rb", "a\rb\r\n"},
      {u"tab\there", "tab\there\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    testsupport::Capture out;
    mklnk::console::SetStdOutput(out.handle());
    EXPECT_TRUE(mklnk::console::ConsoleWriteLine(row.text));
    EXPECT_EQ(out.Bytes(), row.bytes);
  }
}

TEST(ConsoleWriteLine, LeavesCallersTextAlone) {
  testsupport::Capture out;
  mklnk::console::SetStdOutput(out.handle());
  const std::u16string text = u"abc";
  mklnk::console::ConsoleWriteLine(text);
  EXPECT_EQ(text, u"abc");
}

TEST(ConsoleWriteLine, UnusableHandleIsSilent) {
  mklnk::console::SetStdOutput(platform::kInvalidHandle);
  EXPECT_FALSE(mklnk::console::ConsoleWriteLine(u"lost"));
}

TEST(ConsoleWriteLine, BigTextInOneWrite) {
  testsupport::Capture out;
  mklnk::console::SetStdOutput(out.handle());
  const std::u16string text(200000, u'q');
  EXPECT_TRUE(mklnk::console::ConsoleWriteLine(text));
  const std::string bytes = out.Bytes();
  EXPECT_EQ(bytes.size(), 200002u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

}  // namespace
