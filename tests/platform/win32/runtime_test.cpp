// The library's throw helpers that the Windows build supplies itself
// (src/platform/win32/runtime.cpp): what they throw must still be caught the
// way the tool catches it, and say what libstdc++'s own would say.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The what() text of the std::exception that `call` throws.
template <class Call>
std::string WhatOf(Call call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  ADD_FAILURE() << "nothing was thrown";
  return {};
}

// What the library says about a position out of range (the largest one
// written in full) and a size too large, word for word.
TEST(LibraryThrowTest, TextsAsTheLibraryWritesThem) {
  const std::u16string s = u"abc";
  const std::vector<int> v;
  std::u16string grown;
  EXPECT_EQ(WhatOf([&] { (void)s.substr(5); }),
            "basic_string::substr: __pos (which is 5) > this->size() (which is 3)");
  EXPECT_EQ(WhatOf([&] { (void)v.at(0); }),
            "vector::_M_range_check: __n (which is 0) >= this->size() (which is 0)");
  EXPECT_EQ(WhatOf([&] { (void)s.substr(SIZE_MAX); }),
            "basic_string::substr: __pos (which is " + std::to_string(SIZE_MAX) + ") > this->size() (which is 3)");
  EXPECT_EQ(WhatOf([&] { grown.reserve(grown.max_size() + 1); }), "basic_string::_M_create");
}

TEST(LibraryThrowTest, AnOverlongTextIsCutNotOverrun) {
  const std::string name(4000, 'x');
  const std::string what = WhatOf([&] { std::__throw_out_of_range_fmt("%s: at %zu", name.c_str(), std::size_t{7}); });
  EXPECT_FALSE(what.empty());
  EXPECT_LT(what.size(), name.size());
  EXPECT_EQ(what, name.substr(0, what.size()));
}

// The link writer tells "out of memory" by catching std::bad_alloc itself.
TEST(LibraryThrowTest, OutOfMemoryIsStillBadAlloc) {
  std::allocator<std::int32_t> ints;
  EXPECT_THROW((void)ints.allocate(SIZE_MAX / sizeof(std::int32_t)), std::bad_alloc);
  EXPECT_THROW((void)ints.allocate(SIZE_MAX), std::bad_array_new_length);
}

}  // namespace
