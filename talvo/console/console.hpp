// The console a dialogue runs on: an input and an output stream the caller
// chooses (std::cin/std::cout in the program, string streams in tests).
#pragma once

#include <iosfwd>
#include <string>

#include "talvo/result.hpp"

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

// The longest reply line read; the prompt routines keep only its first 80
// characters anyway.
inline constexpr std::size_t kMaxReplyLine = 65536;

// One reply line, without its line end (LF or CR-LF). kNotFound when the
// input has ended while the question waits (the dialogue then stops instead
// of asking for ever), kOutOfRange for a line beyond kMaxReplyLine (no reply
// may grow without bound).
Result<std::string> read_reply(Console& con);

// Writes a question and leaves the cursor behind it.
void prompt(Console& con, const std::string& text);

// Writes one line (the text and a line end).
void line(Console& con, const std::string& text);

// Longest reply kept by the prompt routines; longer replies are cut here.
inline constexpr std::size_t kReplyLength = 80;

// A "G_F" data-directory prefix as setg_f holds it: 80 characters and the used
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
