// The pieces of the C++ runtime that the Windows executable brings itself,
// because libstdc++'s own would make up most of its size.  This file is the
// one place for such replacements; each says what it saves.  The program
// behaves the same with them: what it throws is still caught in Main and
// printed as "Error: ...", and running out of memory still reports.
#include <bits/functexcept.h>  // the library's declarations of the helpers

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

// ---- the library's throw helpers --------------------------------------------
//
// The standard strings and containers report a position out of range or a
// size too large by calling std::__throw_out_of_range_fmt,
// std::__throw_length_error and their siblings.  libstdc++ keeps all of them
// in one object file, which also builds std::logic_error, std::runtime_error
// and their kin; their messages are reference-counted strings of the
// library's old ABI, so calling any one helper links in that whole second
// std::string (and the random_device that comes with it): about 86 KB of
// the 190 KB 32-bit executable.
//
// So every helper of that object file is defined here, and the linker never
// needs it.  The exceptions that carry no message (std::bad_alloc,
// std::bad_array_new_length, std::bad_cast, std::bad_typeid,
// std::bad_exception) are thrown as before: the tool catches std::bad_alloc
// by type.  The others are thrown as a LibraryError, a std::exception with
// the same what() text, formatted the way the library formats it.  Nothing
// in the tool catches std::length_error or std::out_of_range by type; what
// it catches, in Main, is std::exception.  Should a helper be missing here,
// the link fails with a duplicate definition rather than quietly growing.

namespace {

// What the library's helpers throw instead of a std::logic_error or a
// std::runtime_error.  The text lives inside the object, which the runtime
// allocates with its emergency reserve at hand, so throwing needs no memory
// of its own; a text too long for it is cut.
class LibraryError final : public std::exception {
 public:
  explicit LibraryError(const char* text) noexcept { Append(text); }

  // A format's %s and %zu take their arguments, %% is a percent sign and
  // any other % stands for itself: the conversions the library's messages
  // use, read as the library's own formatter reads them.
  LibraryError(const char* format, std::va_list args) noexcept {
    for (const char* f = format; *f != '\0'; ++f) {
      if (f[0] == '%' && f[1] == 's') {
        Append(va_arg(args, const char*));
        f += 1;
      } else if (f[0] == '%' && f[1] == 'z' && f[2] == 'u') {
        AppendDecimal(va_arg(args, std::size_t));
        f += 2;
      } else if (f[0] == '%' && f[1] == '%') {
        Append('%');
        f += 1;
      } else {
        Append(*f);
      }
    }
  }

  const char* what() const noexcept override { return text_; }

 private:
  void Append(char c) noexcept {
    if (length_ + 1 < sizeof text_) text_[length_++] = c;
  }
  void Append(const char* text) noexcept {
    for (; text != nullptr && *text != '\0'; ++text) Append(*text);
  }
  void AppendDecimal(std::size_t value) noexcept {
    char digits[3 * sizeof value];
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) Append(digits[--count]);
  }

  char text_[256] = {};
  std::size_t length_ = 0;
};

}  // namespace

// The library's names, as bits/functexcept.h declares them.
namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }

void __throw_logic_error(const char* what) { throw LibraryError(what); }
void __throw_domain_error(const char* what) { throw LibraryError(what); }
void __throw_invalid_argument(const char* what) { throw LibraryError(what); }
void __throw_length_error(const char* what) { throw LibraryError(what); }
void __throw_out_of_range(const char* what) { throw LibraryError(what); }
void __throw_runtime_error(const char* what) { throw LibraryError(what); }
void __throw_range_error(const char* what) { throw LibraryError(what); }
void __throw_overflow_error(const char* what) { throw LibraryError(what); }
void __throw_underflow_error(const char* what) { throw LibraryError(what); }

void __throw_out_of_range_fmt(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const LibraryError error(format, args);
  va_end(args);
  throw error;
}

}  // namespace std

// ---- the handler of an exception that nobody catches -----------------------
//
// The runtime's default one prints the exception's demangled type name,
// which drags the whole demangler and a printf into the executable (about a
// third of its size).  The tool catches its own errors in Main; should
// anything still escape, it ends the process the plain way.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
