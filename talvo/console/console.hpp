// The console a dialogue runs on: an input and an output stream the caller
// chooses (std::cin/std::cout in the program, string streams in tests).
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>

namespace talvo {

struct Console {
  std::istream& in;
  std::ostream& out;
  // Whether the next reply can be read without waiting (it is typed ahead,
  // or the input is a file). The output is flushed before a reply is read
  // only when this says no, or is not given: an answer already waiting needs
  // no question on the screen first, and a run fed from a file or a pipe then
  // writes its screen in large pieces rather than one small write a question.
  bool (*reply_ready)() = nullptr;
};

// Thrown when the input ends while a question waits for its reply; the program
// ends with a message instead of asking for ever.
class EndOfInput : public std::runtime_error {
 public:
  EndOfInput() : std::runtime_error("input ended") {}
};

// Thrown for a reply line longer than kMaxReplyLine: no reply may grow without bound.
class ReplyTooLong : public std::runtime_error {
 public:
  ReplyTooLong() : std::runtime_error("reply too long") {}
};

// The longest reply line read; the prompt routines keep only its first 80
// characters anyway.
inline constexpr std::size_t kMaxReplyLine = 65536;

// One reply line, without its line end (LF or CR-LF). Throws EndOfInput when
// nothing at all is left to read, ReplyTooLong for a line beyond kMaxReplyLine.
std::string read_reply(Console& con);

// Writes a question and leaves the cursor behind it.
void prompt(Console& con, const std::string& text);

// Writes one line (the text and a line end).
void line(Console& con, const std::string& text);

// Longest reply kept by the prompt routines; longer replies are cut here.
inline constexpr std::size_t kReplyLength = 80;

// A "G_F" data-directory prefix held the old way: 80 characters and the used
// length (0 when unset or blank, -1 when it holds no pair of adjacent
// blanks). The programs use program_data_folder (talvo/files/data_folder.hpp)
// instead, which takes a folder of any length, with or without its "/".
inline constexpr std::size_t kPathLength = 80;
struct DataPrefix {
  std::string path;  // exactly kPathLength characters
  int path_len = 0;
  // The first max(path_len, 0) characters: what goes in front of a file name.
  std::string prefix() const;
};
DataPrefix setg_f(const char* value);  // value of "G_F", or nullptr when unset

}  // namespace talvo
