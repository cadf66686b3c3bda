#include "cli/list.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "cli/command_line.h"
#include "console/line_writer.h"
#include "platform/platform.h"
#include "shelllink/writer.h"

namespace mklnk::cli {

using mklnk::text::Decimal;

namespace {

// Links a group holds: one flush of the file system for each, and at most
// this many hidden temporary files left should the run be killed.
constexpr std::size_t kGroup = 1000;
// Lines held, waiting for a group, before it is committed anyway.
constexpr std::size_t kMostHeld = 4 * kGroup;
// A Windows command line holds 32,767 UTF-16 units, each at most three
// bytes of UTF-8: a longer line is no command line, and is not kept.
constexpr std::size_t kLongestLine = std::size_t{3} * 32767;
constexpr std::size_t kChunk = std::size_t{64} * 1024;
constexpr std::size_t kNothing = static_cast<std::size_t>(-1);

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

// One line's output, held until its link is on disk.
struct Held {
  std::size_t number = 0;
  std::vector<std::u16string> texts;  // each ended by a line break
  int status = kExitOk;
  bool usage = false;             // it got the usage text
  std::size_t staged = kNothing;  // the id of its link, until the link's outcome is known
};

class ListRun {
 public:
  ListRun(std::u16string name, platform::Handle input, std::uint64_t total)
      : name_(std::move(name)), input_(input), total_(total), batch_(kGroup) {}

  int Run() {
    std::string line;
    for (std::size_t number = 1;; ++number) {
      bool tooLong = false;
      if (!NextLine(line, tooLong)) break;
      if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
      RunLine(number, line, tooLong);
      ++lines_;
      if (batch_.group.Full() || held_.size() - first_ >= kMostHeld) Settle(true);
      Progress(false);
    }
    Settle(true);
    Progress(true);
    return usage_ ? kExitUsage : failed_ ? kExitFailed : kExitOk;
  }

 private:
  // The next line's bytes, without its line end; false at the end of the
  // input.  A line longer than any command line is passed over to its end.
  bool NextLine(std::string& line, bool& tooLong) {
    line.clear();
    for (;;) {
      const std::size_t end = buffer_.find('\n', at_);
      if (end != std::string::npos) {
        if (!tooLong) line.append(buffer_, at_, end - at_);
        at_ = end + 1;
        break;
      }
      if (!tooLong) line.append(buffer_, at_);
      buffer_.clear();
      at_ = 0;
      if (line.size() > kLongestLine) {
        tooLong = true;
        line.clear();
      }
      if (ended_) {
        if (line.empty() && !tooLong) return false;
        break;
      }
      // About to wait for more: what is made so far goes in place and is
      // reported first.
      if (platform::ReadWouldWait(input_)) Settle(true);
      buffer_.resize(kChunk);
      const std::int64_t n = platform::ReadFile(input_, buffer_.data(), buffer_.size());
      if (n < 0) readError_ = platform::GetLastError();
      buffer_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
      if (n <= 0) ended_ = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

  void RunLine(std::size_t number, const std::string& line, bool tooLong) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (!tooLong && (start == std::string::npos || line[start] == '#')) return;
    Held held;
    held.number = number;
    console::CollectLines(&held.texts);
    batch_.last = kNothing;
    try {
      if (tooLong) {
        console::ConsoleWriteLine(console::ErrorLine(u"the line is longer than any command line"));
        held.status = kExitFailed;
      } else {
        held.status = RunCommandLine(platform::FromUtf8(std::string_view(line).substr(start)), batch_);
      }
    } catch (const std::exception& e) {
      console::ConsoleWriteLine(console::ErrorLine(platform::FromAnsi(e.what())));
      held.status = kExitInternalError;
    }
    console::CollectLines(nullptr);
    held.usage = held.status == kExitUsage && held.texts.size() == 1 && held.texts[0] == Usage();
    if (held.status == kExitOk && batch_.last != kNothing) held.staged = batch_.last;
    held_.push_back(std::move(held));
    Settle(false);
  }

  // Commits the group when asked, takes what became of its links, and
  // prints every line whose output is known, in order.
  void Settle(bool commit) {
    // An interrupt waits until the group's lines are printed too.
    platform::DeferInterrupts();
    if (commit) batch_.group.Commit();
    std::vector<shelllink::ReplaceOutcome> outcomes = batch_.group.TakeOutcomes();
    std::size_t next = 0;
    for (std::size_t i = first_; i < held_.size() && next < outcomes.size(); ++i) {
      Held& held = held_[i];
      if (held.staged == kNothing || held.staged != outcomes[next].id) continue;
      const shelllink::ReplaceOutcome& outcome = outcomes[next++];
      held.staged = kNothing;
      if (outcome.done) {
        ++made_;
      } else {
        held.texts = {console::ErrorLine(outcome.what, outcome.reason) + u"\r\n"};
        held.status = kExitFailed;
      }
    }
    std::u16string out;
    for (; first_ < held_.size() && held_[first_].staged == kNothing; ++first_) {
      const Held& held = held_[first_];
      if (held.status != kExitOk) {
        failed_ = true;
        usage_ = usage_ || held.usage;
      }
      for (const std::u16string& text : held.texts) {
        if (held.status == kExitOk) {
          out += text;
          continue;
        }
        // Every line of a failure, the usage text's included.
        for (std::size_t from = 0; from < text.size();) {
          std::size_t end = text.find(u'\n', from);
          end = end == std::u16string::npos ? text.size() : end + 1;
          out += name_ + u":" + Decimal(static_cast<std::int64_t>(held.number)) + u": ";
          out.append(text, from, end - from);
          from = end;
        }
      }
    }
    if (first_ == held_.size()) {
      held_.clear();
      first_ = 0;
    }
    if (!out.empty()) {
      Progress(false, true);
      console::ConsoleWriteLine(std::move(out));
    }
    platform::AllowInterrupts();
  }

  // One line on standard error while the list takes longer than a second,
  // when that is a terminal: lines done, of how many when known, links a
  // second; erased at the end (and before standard output, should both be
  // the same terminal, is written to).
  void Progress(bool end, bool erase = false) {
    if (!progress_) return;
    const std::uint64_t now = platform::Milliseconds();
    if (shown_ != 0 && (end || erase)) {
      platform::WriteFile(err_, "\r" + std::string(shown_, ' ') + "\r");
      shown_ = 0;
    }
    if (end || erase || now - started_ < 1000 || now - updated_ < 250) return;
    updated_ = now;
    std::u16string text = u"mklnk: " + Decimal(static_cast<std::int64_t>(lines_)) + (total_ != 0 ? u" of " + Decimal(static_cast<std::int64_t>(total_)) : u"") +
                          u" lines, " + Decimal(static_cast<std::int64_t>(made_ * 1000 / (now - started_))) + u" links a second";
    const std::string bytes = platform::ToAnsi(text);
    platform::WriteFile(err_, "\r" + bytes + (bytes.size() < shown_ ? std::string(shown_ - bytes.size(), ' ') : ""));
    shown_ = bytes.size();
  }

  static const std::u16string& Usage() {
    static const std::u16string usage = UsageText() + u"\r\n";
    return usage;
  }

  std::u16string name_;
  platform::Handle input_;
  std::uint64_t total_;
  shelllink::LinkBatch batch_;
  std::vector<Held> held_;  // from first_ on: lines not yet printed
  std::size_t first_ = 0;
  std::string buffer_;
  std::size_t at_ = 0;
  bool ended_ = false;
  bool failed_ = false, usage_ = false;
  std::uint64_t lines_ = 0, made_ = 0;
  platform::Handle err_ = platform::GetStdHandle(platform::kStdErrorHandle);
  bool progress_ = platform::IsTerminal(err_);
  std::uint64_t started_ = platform::Milliseconds(), updated_ = 0;
  std::size_t shown_ = 0;

 public:
  std::uint32_t readError_ = 0;  // why the input could not be read to its end
};

// The lines of a file, counted for the progress line.
std::uint64_t CountLines(const std::string& path) {
  const platform::Handle file = platform::OpenFileA(path);
  if (file == platform::kInvalidHandle) return 0;
  std::string chunk(kChunk, '\0');
  std::uint64_t lines = 0;
  char last = '\n';
  for (std::int64_t n; (n = platform::ReadFile(file, chunk.data(), chunk.size())) > 0;) {
    for (std::int64_t i = 0; i < n; ++i) lines += chunk[static_cast<std::size_t>(i)] == '\n';
    last = chunk[static_cast<std::size_t>(n - 1)];
  }
  platform::CloseFile(file);
  return lines + (last != '\n');
}

}  // namespace

int RunList(const std::u16string& file, const std::u16string& rest, bool nested) {
  if (nested) {
    console::ConsoleWriteLine(console::ErrorLine(u"a list cannot name another list (" + file + u")"));
    return kExitFailed;
  }
  if (!rest.empty()) {
    console::ConsoleWriteLine(console::ErrorLine(u"a list of links is the whole command line; this one also holds " +
                                                 Quoted(rest)));
    return kExitUsage;
  }
  const bool standardInput = file == u"-";
  platform::Handle input = platform::GetStdHandle(platform::kStdInputHandle);
  std::uint64_t total = 0;
  if (!standardInput) {
    const std::optional<std::string> path = platform::ToAnsiExact(file);
    platform::SetLastError(0);
    input = path ? platform::OpenFileA(*path) : platform::kInvalidHandle;
    if (input == platform::kInvalidHandle) {
      console::ConsoleWriteLine(console::ErrorLine(u"cannot read the list " + Quoted(file), platform::GetLastError()));
      return kExitFailed;
    }
    if (platform::IsTerminal(platform::GetStdHandle(platform::kStdErrorHandle))) total = CountLines(*path);
  }
  platform::KeepCurrentDirectory();
  ListRun run(file, input, total);
  int status = run.Run();
  if (!standardInput) platform::CloseFile(input);
  if (run.readError_ != 0) {
    console::ConsoleWriteLine(console::ErrorLine(u"cannot read the list " + Quoted(file), run.readError_));
    status = status == kExitOk ? kExitFailed : status;
  }
  return status;
}

void CommitBefore(shelllink::LinkBatch& batch, std::u16string_view path) {
  while (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) path.remove_suffix(1);
  const std::size_t slash = path.find_last_of(u"\\/:");
  const std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  if (name.empty()) return;
  if (batch.group.Pending(platform::kInvalidHandle, platform::ToAnsi(name))) batch.group.Commit();
}

}  // namespace mklnk::cli
