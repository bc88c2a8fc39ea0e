#include "tools/cli.hpp"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>

#include "talvo/files/files.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/grid.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo::cli {

DataFolder tools_data_folder() { return program_data_folder(std::getenv("G_F"), executable_dir()); }

std::optional<std::string> Args::get(const std::string& name) const {
  auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

FileKey::FileKey(const std::string& path) {
  std::error_code ec;
  canonical = std::filesystem::weakly_canonical(path, ec).string();
  if (ec) canonical = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    identity = std::pair<unsigned long long, unsigned long long>{static_cast<unsigned long long>(st.st_dev),
                                                                 static_cast<unsigned long long>(st.st_ino)};
}

namespace {

// A message as the terminal shows it: a control byte that input text brought in (an escape sequence in a
// file's name or contents) written as \xNN, whatever routine made the message; line ends and tabs kept.
std::string terminal_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if ((byte < 0x20 && ch != '\n' && ch != '\t') || byte == 0x7f) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

namespace {

Error wrong(std::string text) { return make_error(ErrorKind::kInvalidArgument, std::move(text)); }
Error unusable(std::string text) { return make_error(ErrorKind::kParseError, std::move(text)); }

}  // namespace

int usage(const Args& a, const std::string& text) {
  std::cerr << "talvo-tools " << a.command << ": " << terminal_text(text) << "; see `talvo-tools " << a.command
            << " --help`\n";
  return kUsage;
}
int usage(const Args& a, const Error& e) { return usage(a, e.message); }

int input_error(const Args& a, const std::string& text) {
  std::cerr << "talvo-tools " << a.command << ": " << terminal_text(text) << '\n';
  return 1;
}
int input_error(const Args& a, const Error& e) { return input_error(a, e.message); }
Result<FoldersMade> FoldersMade::make(const std::string& folder) {
  namespace fs = std::filesystem;
  FoldersMade made;
  std::error_code ec;
  for (fs::path p = folder; !p.empty() && !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
    made.made_.insert(made.made_.begin(), p.string());
    if (p == p.parent_path()) break;
  }
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) {
    made.remove_if_empty();
    Error e = make_error(ErrorKind::kIoError, ec ? ec.message() : std::string("it is not a folder"));
    e.system_error = ec.value();
    return e;
  }
  return made;
}

void FoldersMade::remove_if_empty() const {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = made_.rbegin(); it != made_.rend(); ++it)
    if (fs::is_empty(*it, ec) && !ec) fs::remove(*it, ec);
}

int refuse(const Args& a, const Refusal& r) {
  return exit_status(r.error.kind, r.fault) == kUsage ? usage(a, r.error) : input_error(a, r.error);
}

Result<Args> parse(int argc, char** argv, int first, const std::vector<std::string>& flags,
                   const std::vector<std::string>& options) {
  Args a;
  const auto known = [](const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
  };
  bool options_end = false;
  for (int i = first; i < argc; ++i) {
    const std::string s = argv[i];
    if (options_end || s.rfind("--", 0) != 0) {
      a.positional.push_back(s);
      continue;
    }
    if (s == "--") {
      options_end = true;
      a.operands_from = a.positional.size();
      continue;
    }
    const std::size_t equals = s.find('=');
    const std::string name = s.substr(0, equals);
    std::string value;
    if (known(flags, name) || name == "--help") {
      if (equals != std::string::npos) return wrong(name + " takes no value");
    } else if (!known(options, name)) {
      return wrong("unknown option " + escape_for_message(name));
    } else if (equals != std::string::npos) {
      value = s.substr(equals + 1);
    } else {
      if (i + 1 >= argc) return wrong(name + " needs a value");
      value = argv[++i];
    }
    if (!a.options.emplace(name, value).second) return wrong(name + " is given twice: give it once");
  }
  return a;
}

Result<TableArgs> parse(int argc, char** argv, int first, const OptionTable& table,
                        const std::vector<std::string>& flags, const std::vector<std::string>& options) {
  std::vector<std::string> all_flags = flags, all_options = options;
  for (const OptionSpec& o : table.options)
    (o.type == OptionType::kFlag ? all_flags : all_options).push_back("--" + std::string(o.name));
  Result<Args> a = parse(argc, argv, first, all_flags, all_options);
  if (!a.ok()) return a.error();
  OptionValues given;
  for (const auto& [name, value] : a->options) {
    const std::string key = name.substr(2);
    if (find_option(table, key)) given.values[key] = value;
  }
  Result<talvo::Options> read = read_options(table, given, Spelling::kCommandLine);
  if (!read.ok()) return read.error();
  return TableArgs{std::move(a).value(), std::move(read).value()};
}

// The unit an option of talvo-tools takes its value in, by its name.
Quantity quantity_of(const std::string& option) {
  if (option == "--density") return Quantity::kDensity;
  if (option == "--thickness") return Quantity::kLength;
  if (option == "--wavelength") return Quantity::kWavelength;
  if (option == "--energy") return Quantity::kEnergy;
  return Quantity::kNumber;
}

Result<double> number(const std::string& text, const std::string& what, NumberOptions options) {
  if (options.quantity == Quantity::kNumber) options.quantity = quantity_of(what);
  return read_number(text, what, options);
}

Result<double> quantity(const std::string& text, const std::string& what, Quantity q) {
  NumberOptions o;
  o.quantity = q;
  return read_number(text, what, o);
}

Result<int> integer(const std::string& text, const std::string& what) { return read_whole_number(text, what); }

Result<std::vector<double>> grid(const std::string& spec, double most, Quantity q) {
  GridOptions o;
  o.most = most;
  o.quantity = q;
  return read_grid(spec, o);
}

Result<std::vector<std::vector<double>>> read_columns(std::istream& in, const std::string& source, std::size_t columns,
                                                      std::size_t optional) {
  std::vector<std::vector<double>> cols;
  std::string text;
  long long line = 0;
  for (;;) {
    const Result<bool> got = read_line(in, text);
    if (got.ok() && !*got) break;
    ++line;
    // A bad line of input is an error of the input (exit 1), not of the usage.
    if (!got.ok() && got.kind() == ErrorKind::kOutOfRange)
      return unusable(source + ", line " + std::to_string(line) + ": " + got.error().message);
    if (!got.ok()) return make_error(ErrorKind::kIoError, "cannot read " + source);
    const std::vector<std::string_view> w = split_words(text);
    if (w.empty() || w[0][0] == '#') continue;
    const std::size_t words = w.size();
    if (cols.empty()) cols.resize(std::min(std::max(words, columns), columns + optional));
    const std::string where = source + ", line " + std::to_string(line) + ": ";
    if (words < cols.size())
      return unusable(where + std::to_string(cols.size()) + " columns needed, " + std::to_string(words) +
                      " found: " + quote_for_message(text));
    for (std::size_t c = 0; c < cols.size(); ++c) {
      double v = 0;
      const std::string_view item = w[c];
      if (!read_free(item, {&v})) return unusable(where + "not a number: " + quote_for_message(item));
      cols[c].push_back(v);
    }
  }
  if (cols.empty()) cols.resize(columns);
  return cols;
}

Result<std::vector<std::vector<double>>> read_columns(std::size_t columns) {
  return read_columns(std::cin, "standard input", columns);
}

namespace {

void append_num(std::string& out, Num v) {
  if (v.single)
    append_shortest(out, static_cast<float>(v.value));
  else
    append_shortest(out, v.value);
}

}  // namespace

std::string num(Num v) {
  std::string s;
  append_num(s, v);
  return s;
}

void row(std::initializer_list<Num> values) {
  std::string line;
  for (Num v : values) {
    if (!line.empty()) line += ' ';
    append_num(line, v);
  }
  line += '\n';
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
}

OutputBuffer::OutputBuffer(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

bool OutputBuffer::write_all(const char* data, std::size_t n) {
  while (n > 0 && error_ == 0) {
    const ssize_t done = ::write(fd_, data, n);
    if (done < 0 && errno == EINTR) continue;
    // An output left non-blocking by the caller is waited for, not lost.
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd_, POLLOUT, 0};
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    // A write of 0 bytes to a regular file is a full disk in all but name.
    if (done <= 0) {
      error_ = done < 0 ? errno : ENOSPC;
      break;
    }
    data += done;
    n -= static_cast<std::size_t>(done);
  }
  return error_ == 0;
}

bool OutputBuffer::drain() {
  const bool ok = write_all(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return ok;
}

OutputBuffer::int_type OutputBuffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize OutputBuffer::xsputn(const char* s, std::streamsize n) {
  if (error_ != 0) return 0;
  const auto count = static_cast<std::size_t>(n);
  if (count > static_cast<std::size_t>(epptr() - pptr())) {
    // What is buffered goes first; a text as large as the buffer goes straight out after it.
    if (!drain()) return 0;
    if (count >= buffer_.size()) return write_all(s, count) ? n : 0;
  }
  std::memcpy(pptr(), s, count);
  pbump(static_cast<int>(count));
  return n;
}

int OutputBuffer::sync() { return drain() ? 0 : -1; }

Result<int> digits_option(const Args& a) {
  if (!a.get("--digits")) return kPlainDigits;
  const Result<int> digits = integer(*a.get("--digits"), "--digits");
  if (!digits.ok()) return digits;
  if (*digits < 1 || *digits > 17) return wrong("--digits must be 1 to 17");
  return digits;
}

std::string digits_text(std::optional<double> v, int digits) {
  if (!v || !std::isfinite(*v)) return "-";
  char buffer[40];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, *v, std::chars_format::general, digits);
  return std::string(buffer, r.ptr);
}

NamedValueTable named_value_table(const std::string& formula, const std::vector<NamedValue>& rows) {
  std::size_t name_width = 7, value_width = 0;
  for (const NamedValue& r : rows) {
    name_width = std::max(name_width, r.name.size());
    value_width = std::max(value_width, r.value.size());
  }
  std::string out = fixed("formula", name_width) + "  " + formula + "\n";
  for (const NamedValue& r : rows) {
    const std::string l = fixed(r.name, name_width) + "  " + fixed(r.value, value_width) + "  " + r.unit;
    out += std::string(trim_end(l)) + "\n";
  }
  return {out, name_width};
}

void report_messages(const std::string& command, const std::vector<std::string>& warnings, const Error* error) {
  for (const std::string& w : warnings)
    std::cerr << "talvo-tools " << command << ": warning: " << terminal_text(w) << '\n';
  if (error != nullptr) std::cerr << "talvo-tools " << command << ": " << terminal_text(error->message) << '\n';
}

void describe_fit(std::span<const FitLine> fit, double before, double after, int reductions,
                  std::vector<std::string>& notes, std::string& json) {
  json += ", \"fitted\": ";
  {
    json::Object fitted(json);
    for (const FitLine& f : fit) {
      notes.push_back("fitted " + std::string(f.name) + ": " + shortest(f.value) + " +- " + shortest(f.sigma) +
                      (f.at_bound ? " (at its bound)" : "") + " (from " + shortest(f.start) + ", bounds " +
                      shortest(f.lower) + " to " + shortest(f.upper) + ")");
      json::Object one(fitted.key(f.name));
      one.number("value", f.value);
      one.number("sigma", f.sigma);
      one.number("start", f.start);
      one.key("at_bound") += f.at_bound ? "true" : "false";
    }
  }
  notes.push_back("fit cost: " + shortest(before) + " before, " + shortest(after) + " after, " +
                  std::to_string(reductions) + " reductions");
  json += ", \"fit_cost_before\": ";
  json::append_number(json, before);
  json += ", \"fit_cost_after\": ";
  json::append_number(json, after);
  json += ", \"fit_reductions\": " + std::to_string(reductions);
}

std::string path_from_folder(const std::filesystem::path& folder, const std::string& path) {
  namespace fs = std::filesystem;
  if (folder.empty() || path.empty() || fs::path(path).is_absolute()) return path;
  // Through the folders' links as the system follows them when the header's folder is prefixed again.
  std::error_code ec, ec2;
  const fs::path file = fs::weakly_canonical(path, ec), there = fs::weakly_canonical(folder, ec2);
  if (ec || ec2) return path;
  const fs::path rel = file.lexically_relative(there);
  return rel.empty() ? path : rel.string();
}

}  // namespace talvo::cli
