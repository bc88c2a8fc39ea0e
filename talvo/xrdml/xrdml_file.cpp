#include "talvo/xrdml/xrdml_file.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xrdml/file_bytes.hpp"

namespace talvo {

using xrdml_detail::FileRead;

bool XrdmlAxis::varies() const {
  switch (form) {
    case XrdmlPositions::kCommon:
      return false;
    case XrdmlPositions::kRange:
      return start != end;
    case XrdmlPositions::kList:
      for (double v : list)
        if (v != list.front()) return true;
      return false;
  }
  return false;
}

double XrdmlAxis::position(std::size_t j, std::size_t points) const {
  switch (form) {
    case XrdmlPositions::kCommon:
      return start;
    case XrdmlPositions::kRange:
      // The last point lies exactly on the end position, however the steps round.
      if (points < 2) return start;
      if (j + 1 == points) return end;
      return start + static_cast<double>(j) * ((end - start) / static_cast<double>(points - 1));
    case XrdmlPositions::kList:
      return list[j];
  }
  return start;
}

const XrdmlAxis* XrdmlScan::axis(std::string_view name) const {
  for (const XrdmlAxis& a : axes)
    if (equal_case_blind(a.name, name)) return &a;
  return nullptr;
}

const XrdmlAxis& XrdmlScan::x_axis() const {
  const XrdmlAxis* two_theta = axis("2Theta");
  if (two_theta && two_theta->varies()) return *two_theta;
  const XrdmlAxis* own = axis(scan_axis);
  if (own && own->varies()) return *own;
  for (const XrdmlAxis& a : axes)
    if (a.varies()) return a;
  if (two_theta) return *two_theta;
  return own ? *own : axes.front();
}

std::vector<std::pair<std::string, double>> XrdmlScan::fixed_axes() const {
  std::vector<std::pair<std::string, double>> fixed;
  for (const XrdmlAxis& a : axes) {
    if (a.varies() || (a.form == XrdmlPositions::kList && a.list.empty())) continue;
    fixed.emplace_back(a.name, a.form == XrdmlPositions::kList ? a.list.front() : a.start);
  }
  return fixed;
}

double XrdmlScan::counting_time(std::size_t j) const {
  if (!counting_times.empty()) return counting_times[j];
  return has_common_time ? common_time : 0.0;
}

namespace {

struct ParseError {
  int code;
  std::string message;
};

[[noreturn]] void fail(int code, std::string message) {
  throw ParseError{code, "read_xrdml_file: " + std::move(message)};
}

constexpr std::uint64_t kPowersOf10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A name from the file as a message shows it: control characters escaped.
std::string shown(std::string_view name) { return escape_for_message(name, 80); }

// What a byte is to the markup, one bit each, looked up rather than compared
// in turn: the loops over names and blanks run once per byte of the file.
enum : std::uint8_t { kBlank = 1, kGt = 2, kSlash = 4, kEquals = 8, kLt = 16 };
constexpr std::array<std::uint8_t, 256> kByteClass = [] {
  std::array<std::uint8_t, 256> c{};
  c[' '] = c['\n'] = c['\r'] = c['\t'] = kBlank;
  c['>'] = kGt;
  c['/'] = kSlash;
  c['='] = kEquals;
  c['<'] = kLt;
  return c;
}();
bool is(char c, std::uint8_t classes) { return (kByteClass[static_cast<unsigned char>(c)] & classes) != 0; }
bool is_space(char c) { return is(c, kBlank); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// s equal to a literal, compared in line (the literal's length is known).
template <std::size_t N>
bool same(std::string_view s, const char (&literal)[N]) {
  return s.size() == N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

// Eight bytes at a time: the high bit of each byte of w below n (n at most
// 0x80), or equal to c. Only the lowest flag is sure (a borrow may flag a
// byte above it), which is all a search needs.
constexpr std::uint64_t kEachByte = 0x0101010101010101u, kHighBits = 0x8080808080808080u;
std::uint64_t bytes_below(std::uint64_t w, std::uint8_t n) { return (w - kEachByte * n) & ~w & kHighBits; }
std::uint64_t bytes_equal(std::uint64_t w, char c) { return bytes_below(w ^ (kEachByte * static_cast<std::uint8_t>(c)), 1); }

// The first c from q (end when none): mostly a few bytes on, so the first
// sixteen are looked at in line, eight at a time, before memchr.
const char* find_byte(const char* q, const char* end, char c) {
  if constexpr (std::endian::native == std::endian::little) {
    for (int k = 0; k < 2 && end - q >= 8; ++k, q += 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, q, 8);
      if (const std::uint64_t found = bytes_equal(w, c)) return q + std::countr_zero(found) / 8;
    }
  }
  const void* at = std::memchr(q, c, static_cast<std::size_t>(end - q));
  return at ? static_cast<const char*>(at) : end;
}

// The first byte from q whose class is one of `stops` (end when none), and
// in `colon` whether a ':' comes before it. Tag and attribute names end at
// a blank, '>', '/' or '=': those and the other bytes up to ' ' are found
// eight at a time, then told apart by their class.
const char* name_end(const char* q, const char* end, std::uint8_t stops, bool& colon) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - q >= 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, q, 8);
      const std::uint64_t found = bytes_below(w, 0x21) | bytes_equal(w, '>') | bytes_equal(w, '/') | bytes_equal(w, '=');
      const int i = found ? std::countr_zero(found) / 8 : 8;
      // A flagged ':' below i is a ':' (a false flag lies above a true one).
      if (bytes_equal(w, ':') & (i == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * i)) - 1)) colon = true;
      if (i < 8 && is(q[i], stops)) return q + i;
      q += i < 8 ? i + 1 : 8;
    }
  }
  for (; q != end && !is(*q, stops); ++q)
    if (*q == ':') colon = true;
  return q;
}

std::string_view local_name(std::string_view name) {
  const auto colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

void append_utf8(std::string& s, unsigned long cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// An attribute value with its entity and character references replaced; a
// reference that is not one stays as written.
std::string decode(std::string_view v) {
  if (v.find('&') == std::string_view::npos) return std::string(v);
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  std::string s;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto semi = v[i] == '&' ? v.find(';', i) : std::string_view::npos;
    if (semi == std::string_view::npos) {
      s += v[i];
      continue;
    }
    const std::string_view ref = v.substr(i + 1, semi - i - 1);
    bool done = false;
    for (const auto& [name, c] : kNamed)
      if (ref == name) {
        s += c;
        done = true;
      }
    if (!done && ref.size() > 1 && ref[0] == '#') {
      const bool hex = ref[1] == 'x';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      unsigned long cp = 0;
      const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (!digits.empty() && r.ec == std::errc() && r.ptr == digits.data() + digits.size() && cp > 0 &&
          cp <= 0x10FFFF) {
        append_utf8(s, cp);
        done = true;
      }
    }
    if (done)
      i = semi;
    else
      s += v[i];
  }
  return s;
}

// The words that start in n bytes (a word: bytes above ' ' after one at or
// below it); `ink_before` says whether the byte before p was above ' ' and
// becomes that of the last byte. Eight bytes at a time: a byte's high bit is
// set in `inked` when it is above ' ', and a word starts where a set bit
// follows a clear one, so that counting costs little beside converting.
std::size_t count_words(const char* p, std::size_t n, bool& ink_before) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu, kAdd = 0x5F5F5F5F5F5F5F5Fu, kHigh = 0x8080808080808080u;
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  std::size_t words = 0, i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time: 0xFF for each byte above ' ' (compared
  // unsigned), a word starting where such a byte follows one that is not;
  // the starts are summed per byte (at most 255 rounds) then across.
  {
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80)), space = _mm_set1_epi8(static_cast<char>(' ' ^ 0x80));
    __m128i last = ink_before ? _mm_cvtsi32_si128(0xFF) : _mm_setzero_si128();  // the byte before, in byte 0
    while (i + 16 <= n) {
      __m128i sums = _mm_setzero_si128();
      for (int round = 0; round < 255 && i + 16 <= n; ++round, i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i inked = _mm_cmpgt_epi8(_mm_xor_si128(v, flip), space);
        sums = _mm_sub_epi8(sums, _mm_andnot_si128(_mm_or_si128(_mm_slli_si128(inked, 1), last), inked));
        last = _mm_srli_si128(inked, 15);
      }
      const __m128i total = _mm_sad_epu8(sums, _mm_setzero_si128());
      words += static_cast<std::size_t>(_mm_cvtsi128_si32(total) + _mm_extract_epi16(total, 4));
    }
    ink_before = _mm_cvtsi128_si32(last) != 0;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t before = ink_before ? 0x80 : 0;  // the last byte's flag, at bit 7
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, p + i, 8);
      // (b & 0x7F) + 0x5F reaches 0x80 when the low bits are at least 0x21; no carry leaves the byte.
      const std::uint64_t inked = (((w & kLow7) + kAdd) | w) & kHigh;
      const std::uint64_t starts = (inked & ~((inked << 8) | before)) >> 7;  // 0 or 1 per byte
      words += static_cast<std::size_t>((starts * kOnes) >> 56);             // their sum, in the top byte
      before = inked >> 56;
    }
    ink_before = before != 0;
  }
  for (; i < n; ++i) {
    const bool ink = static_cast<unsigned char>(p[i]) > ' ';
    words += ink && !ink_before ? 1 : 0;
    ink_before = ink;
  }
  return words;
}

// A file read a piece at a time into a buffer that is used again and again,
// so that reading touches little fresh memory beside the result's. The size
// fstat gave is read, no more: a file that grows meanwhile is read as it was.
class FileSource {
 public:
  FileSource(int fd, std::size_t size, std::size_t piece)
      : fd_(fd), size_(size), piece_(std::max<std::size_t>(piece, 1)) {}

  // Moves [from, end) to the start of the buffer and reads after it, growing
  // the buffer when [from, end) fills it. The new [begin, end) in `from`, `end`.
  void refill(const char*& from, const char*& end) {
    const auto keep = static_cast<std::size_t>(end - from);
    // At least half of the buffer takes new bytes: it grows when what is kept
    // fills more than half of it.
    if (capacity_ == 0 || keep > capacity_ / 2) {
      const std::size_t capacity = std::max(piece_, 2 * capacity_);
      auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
      if (keep > 0) std::memcpy(bigger.get(), from, keep);
      buffer_ = std::move(bigger);
      capacity_ = capacity;
    } else if (keep > 0 && from != buffer_.get()) {
      std::memmove(buffer_.get(), from, keep);
    }
    std::size_t filled = keep;
    const std::size_t want = std::min(capacity_ - keep, size_ - offset_);
    while (filled < keep + want) {
      const ssize_t got = ::read(fd_, buffer_.get() + filled, keep + want - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw ParseError{1, "read_xrdml_file: cannot read the file: " + std::string(std::strerror(errno))};
      if (got == 0)
        throw ParseError{4, "read_xrdml_file: the file became shorter while it was read (from " +
                                std::to_string(size_) + " to " + std::to_string(offset_ + filled - keep) +
                                " bytes): it is cut short"};
      filled += static_cast<std::size_t>(got);
    }
    offset_ += want;
    from = buffer_.get();
    end = buffer_.get() + filled;
  }

  bool at_end() const { return offset_ == size_; }

  // Whether a refill from `from` would bring more of the file into the
  // buffer without growing it: what is kept fits in half of it, and does not
  // start it already.
  bool refill_helps(const char* from, const char* end) const {
    return !at_end() && from != buffer_.get() && static_cast<std::size_t>(end - from) <= capacity_ / 2;
  }

  // The words from the current offset up to the next '<' of the file (or its
  // end), read ahead without moving on; ink_before as for count_words.
  std::size_t words_ahead(bool ink_before) {
    if (!scratch_) scratch_ = std::make_unique_for_overwrite<char[]>(kScratch);
    std::size_t words = 0;
    for (std::size_t at = offset_; at < size_;) {
      const ssize_t got = ::pread(fd_, scratch_.get(), std::min(kScratch, size_ - at), static_cast<off_t>(at));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // the read itself will say what is wrong
      const auto n = static_cast<std::size_t>(got);
      const void* lt = std::memchr(scratch_.get(), '<', n);
      const std::size_t upto = lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - scratch_.get()) : n;
      words += count_words(scratch_.get(), upto, ink_before);
      if (lt) break;
      at += n;
    }
    return words;
  }

 private:
  static constexpr std::size_t kScratch = std::size_t{1} << 16;
  int fd_;
  std::size_t size_, piece_, offset_ = 0, capacity_ = 0;
  std::unique_ptr<char[]> buffer_, scratch_;
};

// Eight digits at a time, for the common numbers of a file: a byte is a
// digit when its high nibble is 3 and its low one at most 9.

// How many of the 8 bytes of w (the first in the lowest byte) lead as digits.
int leading_digits(std::uint64_t w) {
  const std::uint64_t t = w ^ 0x3030303030303030u;
  // A byte of t that is no digit has a high nibble, or gets one by adding 6;
  // a carry out of a byte only comes from one that is no digit, and only
  // changes bytes after it.
  const std::uint64_t other = (t | (t + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u;
  return other ? std::countr_zero(other) / 8 : 8;
}

// The value of the first k (1 to 8) digits of w.
std::uint64_t digits_value(std::uint64_t w, int k) {
  const int shift = 8 * (8 - k);  // the k digits to the top, '0's below them
  std::uint64_t v = shift ? (w << shift) | (0x3030303030303030u >> (64 - shift)) : w;
  // Pairs, then fours, then all eight, each by one multiplication.
  v -= 0x3030303030303030u;
  v = v * 10 + (v >> 8);
  constexpr std::uint64_t kMask = 0x000000FF000000FFu, kMul1 = 100 + (1000000ull << 32), kMul2 = 1 + (10000ull << 32);
  return (((v & kMask) * kMul1) + (((v >> 16) & kMask) * kMul2)) >> 32;
}

// The elements whose content is numbers.
enum class Field {
  kNone,
  kAlpha1,
  kAlpha2,
  kRatio,
  kStart,
  kEnd,
  kCommon,
  kList,
  kIntensities,
  kCounts,
  kAttenuation,
  kCommonTime,
  kTimes,
};

bool single_value(Field f) {
  return f == Field::kAlpha1 || f == Field::kAlpha2 || f == Field::kRatio || f == Field::kStart || f == Field::kEnd ||
         f == Field::kCommon || f == Field::kCommonTime;
}

struct Attribute {
  std::string_view name;  // without its namespace prefix
  std::string_view value;
};

// One pass over the text: markup is taken apart as it comes and the numbers
// of the elements that carry them are converted where they stand.
class Parser {
 public:
  explicit Parser(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") p_ += 3;
  }
  explicit Parser(FileSource& source) : p_(nullptr), end_(nullptr), source_(&source), at_end_(source.at_end()) {
    if (at_end_) return;
    source.refill(p_, end_);
    at_end_ = source.at_end();
    while (!at_end_ && end_ - p_ < 3) more();
    if (std::string_view(p_, static_cast<std::size_t>(end_ - p_)).substr(0, 3) == "\xEF\xBB\xBF") p_ += 3;
  }

  XrdmlFile run() {
    for (;;) {
      try {
        if (field_ != Field::kNone) {
          read_numbers();
        } else {
          // Mostly a few blanks to the next tag.
          const char* q = find_byte(p_, end_, '<');
          if (open_.empty()) text_outside(q);
          p_ = q;
        }
        if (p_ == end_) {
          if (at_end_) break;
          more();
          continue;
        }
        markup();
      } catch (const NeedMore&) {
        // What was cut by the end of the buffer is read again, whole, from p_.
        more();
      }
    }
    if (!root_seen_) fail(3, "not an XRDML file: it holds no XML element");
    if (!root_closed_) fail(4, "the file ends inside <" + shown(innermost()) + ">: it is cut short");
    if (file_.scans.empty()) fail(5, "no scan in the file");
    if (have_alpha1_)
      file_.wavelength = have_alpha2_ && have_ratio_
                             ? (file_.k_alpha1 + file_.ratio * file_.k_alpha2) / (1.0 + file_.ratio)
                             : file_.k_alpha1;
    if (!std::isfinite(file_.wavelength))
      fail(6, "the wavelength (kAlpha1 + ratio kAlpha2) / (1 + ratio) is too large to compute");
    return std::move(file_);
  }

  bool have_wavelength() const { return have_alpha1_; }

 private:
  // The rest of the file after [p_, end_), which is kept.
  void more() {
    source_->refill(p_, end_);
    at_end_ = source_->at_end();
  }

  // Thrown where the buffer ends before what is being read does, while more
  // of the file is to come; p_ is then at its start.
  struct NeedMore {};

  [[noreturn]] void truncated() {
    if (!at_end_) throw NeedMore{};
    fail(4, open_.empty() ? std::string("the file ends inside a tag: it is cut short")
                          : "the file ends inside <" + shown(innermost()) + ">: it is cut short");
  }
  [[noreturn]] void malformed(const std::string& what) { fail(4, "broken markup: " + what); }

  void skip_spaces(const char*& q) const {
    while (q != end_ && is_space(*q)) ++q;
  }

  // Moves past `close`, searched from q; the file cut short when it is missing.
  void skip_past(const char* q, std::string_view close) {
    const std::string_view rest(q, static_cast<std::size_t>(end_ - q));
    const auto at = rest.find(close);
    if (at == std::string_view::npos) truncated();
    p_ = q + at + close.size();
  }

  void markup() {
    const char* s = p_ + 1;
    if (s == end_) truncated();
    const std::string_view rest(s, static_cast<std::size_t>(end_ - s));
    if (*s == '?') {
      skip_past(s, "?>");
    } else if (rest.size() >= 3 && same(rest.substr(0, 3), "!--")) {
      skip_past(s + 3, "-->");
    } else if (rest.starts_with("![CDATA[")) {
      if (field_ != Field::kNone) malformed("numbers in a CDATA section are not read");
      skip_past(s, "]]>");
    } else if (*s == '!') {
      skip_declaration(s);
    } else if (*s == '/') {
      end_tag(s + 1);
    } else {
      start_tag(s);
    }
  }

  // <!DOCTYPE ...> and the like, with an internal subset in brackets.
  void skip_declaration(const char* q) {
    int brackets = 0;
    for (; q != end_; ++q) {
      if (*q == '"' || *q == '\'') {
        const void* close = std::memchr(q + 1, *q, static_cast<std::size_t>(end_ - q - 1));
        if (!close) truncated();
        q = static_cast<const char*>(close);
      } else if (*q == '[') {
        ++brackets;
      } else if (*q == ']') {
        --brackets;
      } else if (*q == '>' && brackets <= 0) {
        p_ = q + 1;
        return;
      }
    }
    truncated();
  }

  void end_tag(const char* n) {
    bool colon = false;
    const char* q = name_end(n, end_, kBlank | kGt, colon);
    const std::string_view name(n, static_cast<std::size_t>(q - n));
    skip_spaces(q);
    if (q == end_) truncated();
    if (*q != '>') malformed("</" + shown(name) + " is not closed by '>'");
    p_ = q + 1;
    end_element(name);
  }

  void start_tag(const char* n) {
    bool colon = false;
    const char* q = name_end(n, end_, kBlank | kGt | kSlash, colon);
    const std::string_view name(n, static_cast<std::size_t>(q - n));
    if (name.empty()) malformed("'<' is not followed by a tag name");
    attributes_.clear();
    bool empty = false;
    for (;;) {
      skip_spaces(q);
      if (q == end_) truncated();
      if (*q == '>') {
        ++q;
        break;
      }
      if (*q == '/') {
        if (++q == end_) truncated();
        if (*q != '>') malformed("'/' inside the tag <" + shown(name) + ">");
        ++q;
        empty = true;
        break;
      }
      const char* a = q;
      bool prefixed = false;
      q = name_end(q, end_, kBlank | kEquals | kGt | kSlash, prefixed);
      const std::string_view attribute(a, static_cast<std::size_t>(q - a));
      skip_spaces(q);
      if (q == end_) truncated();
      if (attribute.empty() || *q != '=') malformed("an attribute without a value in the tag <" + shown(name) + ">");
      ++q;
      skip_spaces(q);
      if (q == end_) truncated();
      const char quote = *q;
      if (quote != '"' && quote != '\'')
        malformed("an attribute value without quotes in the tag <" + shown(name) + ">");
      ++q;
      const char* c = find_byte(q, end_, quote);
      if (c == end_) truncated();
      attributes_.push_back({prefixed ? local_name(attribute) : attribute, std::string_view(q, static_cast<std::size_t>(c - q))});
      q = c + 1;
    }
    p_ = q;
    start_element(name, colon ? local_name(name) : name);
    if (empty) end_element(name);
  }

  std::string attribute(std::string_view name) const {
    for (const Attribute& a : attributes_)
      if (a.name.size() == name.size() && std::memcmp(a.name.data(), name.data(), name.size()) == 0)
        return decode(a.value);
    return {};
  }

  // raw: the name as written; name: without its namespace prefix.
  void start_element(std::string_view raw, std::string_view name) {
    if (root_closed_) malformed("a second measurement <" + shown(raw) + "> after </" + shown(root_name_) + ">");
    if (!root_seen_) {
      root_seen_ = true;
      root_name_.assign(raw);
      if (!same(name, "xrdMeasurements"))
        fail(3, "not an XRDML file: its first element is <" + shown(raw) + ">, not <xrdMeasurements>");
      if (!text_before_.empty()) malformed(text_before_);
    }
    if (field_ != Field::kNone) malformed("<" + shown(raw) + "> inside <" + shown(innermost()) + ">");
    const bool in_data_points = !open_.empty() && open_.back().data_points;
    open_.push_back({open_names_.size(), raw.size(), same(name, "dataPoints")});
    open_names_.append(raw);
    const std::size_t depth = open_.size();

    if (same(name, "kAlpha1")) {
      begin_single(Field::kAlpha1);
    } else if (same(name, "kAlpha2")) {
      begin_single(Field::kAlpha2);
    } else if (same(name, "ratioKAlpha2KAlpha1")) {
      begin_single(Field::kRatio);
    } else if (same(name, "scan")) {
      if (scan_depth_ != 0) malformed("a <scan> inside a <scan>");
      scan_depth_ = depth;
      scan_ = XrdmlScan{};
      scan_.number = static_cast<int>(file_.scans.size()) + 1;
      // The scans of a file mostly give the same axes as the one before.
      if (!file_.scans.empty()) scan_.axes.reserve(file_.scans.back().axes.size());
      scan_.scan_axis = attribute("scanAxis");
      counts_.clear();
      have_intensities_ = have_counts_ = have_attenuation_ = have_times_ = false;
    } else if (scan_depth_ != 0 && in_data_points) {
      if (same(name, "positions")) {
        axis_depth_ = depth;
        axis_ = XrdmlAxis{};
        axis_.name = attribute("axis");
        axis_.unit = attribute("unit");
        have_start_ = have_end_ = have_common_ = have_list_ = false;
      } else if (same(name, "intensities")) {
        begin_list(Field::kIntensities, scan_.values, have_intensities_, "intensities");
      } else if (same(name, "counts")) {
        begin_list(Field::kCounts, counts_, have_counts_, "counts");
      } else if (same(name, "beamAttenuationFactors")) {
        begin_list(Field::kAttenuation, scan_.attenuation, have_attenuation_, "attenuation factors");
      } else if (same(name, "countingTimes")) {
        begin_list(Field::kTimes, scan_.counting_times, have_times_, "counting times");
      } else if (same(name, "commonCountingTime")) {
        begin_single(Field::kCommonTime);
      }
    } else if (axis_depth_ != 0 && depth == axis_depth_ + 1) {
      if (same(name, "startPosition")) {
        begin_single(Field::kStart);
      } else if (same(name, "endPosition")) {
        begin_single(Field::kEnd);
      } else if (same(name, "commonPosition")) {
        begin_single(Field::kCommon);
      } else if (same(name, "listPositions")) {
        begin_list(Field::kList, axis_.list, have_list_, "positions");
      }
    }
  }

  void begin_single(Field f) {
    field_ = f;
    single_.clear();
    target_ = &single_;
  }

  void begin_list(Field f, std::vector<double>& into, bool& given, const char* what) {
    if (given)
      fail(7, scan_prefix() + "it gives its " + what + (f == Field::kList ? " of axis " + shown(axis_.name) : "") +
                  " twice");
    given = true;
    field_ = f;
    target_ = &into;
    counted_ = false;  // the list is sized when its numbers are first read
  }

  // Room for exactly the numbers up to the next '<', counted before any is
  // converted: no growing, no copies, and no memory taken beyond the result.
  // When the buffer ends before the '<' it is refilled first if that brings
  // the rest in; a list longer than that is counted by reading ahead.
  void size_list() {
    const void* lt = std::memchr(p_, '<', static_cast<std::size_t>(end_ - p_));
    if (!lt && !at_end_ && source_->refill_helps(p_, end_)) throw NeedMore{};
    const char* stop = lt ? static_cast<const char*>(lt) : end_;
    bool ink_before = false;
    std::size_t words = count_words(p_, static_cast<std::size_t>(stop - p_), ink_before);
    if (!lt && !at_end_) words += source_->words_ahead(ink_before);
    target_->reserve(target_->size() + words);
    counted_ = true;
  }

  void end_element(std::string_view raw) {
    if (open_.empty()) malformed("</" + shown(raw) + "> closes no element");
    if (innermost() != raw) malformed("</" + shown(raw) + "> closes <" + shown(innermost()) + ">");
    const std::size_t depth = open_.size();
    if (field_ != Field::kNone) end_field();
    if (depth == axis_depth_) {
      end_axis();
      axis_depth_ = 0;
    } else if (depth == scan_depth_) {
      end_scan();
      scan_depth_ = 0;
    }
    open_names_.resize(open_.back().begin);
    open_.pop_back();
    if (open_.empty()) root_closed_ = true;
  }

  std::string scan_prefix() const { return scan_depth_ ? "scan " + std::to_string(scan_.number) + ": " : ""; }

  // What the element being read holds, for messages.
  std::string field_name() const {
    switch (field_) {
      case Field::kAlpha1:
        return "kAlpha1";
      case Field::kAlpha2:
        return "kAlpha2";
      case Field::kRatio:
        return "ratioKAlpha2KAlpha1";
      case Field::kStart:
        return "start position of axis " + shown(axis_.name);
      case Field::kEnd:
        return "end position of axis " + shown(axis_.name);
      case Field::kCommon:
        return "common position of axis " + shown(axis_.name);
      case Field::kList:
        return "position of axis " + shown(axis_.name);
      case Field::kIntensities:
        return "intensity";
      case Field::kCounts:
        return "count";
      case Field::kAttenuation:
        return "attenuation factor";
      case Field::kCommonTime:
      case Field::kTimes:
        return "counting time";
      case Field::kNone:
        break;
    }
    return {};
  }

  bool signed_field() const {
    return field_ == Field::kStart || field_ == Field::kEnd || field_ == Field::kCommon || field_ == Field::kList;
  }

  // Outside the root element only blanks may stand between the tags: text
  // there, such as a second file's numbers joined on by `cat`, is refused.
  // Text before it is refused once the root is found (a file of text alone
  // is no XRDML file at all).
  void text_outside(const char* q) {
    if (!text_before_.empty()) return;
    const char* s = p_;
    while (s != q && is_space(*s)) ++s;
    if (s == q) return;
    const char* w = s;
    while (w != end_ && !is_space(*w) && *w != '<' && w - s <= 40) ++w;
    if (w == end_ && !at_end_) {
      p_ = s;  // the message shows the word as the file has it, not as the buffer cut it
      throw NeedMore{};
    }
    text_before_ = "text " + quote_for_message(std::string_view(s, static_cast<std::size_t>(w - s)), 40) +
                   " outside <xrdMeasurements>";
    if (root_seen_) malformed(text_before_);
  }

  [[noreturn]] void bad_number(const char* s) {
    const char* q = s;
    while (q != end_ && !is_space(*q) && *q != '<' && q - s <= 40) ++q;
    if (q == end_ && !at_end_) {
      p_ = s;  // the message shows the word as the file has it, not as the buffer cut it
      throw NeedMore{};
    }
    const std::string token = quote_for_message(std::string_view(s, static_cast<std::size_t>(q - s)), 40);
    std::string where = scan_prefix();
    if (!single_value(field_)) {
      where = scan_depth_
                  ? "scan " + std::to_string(scan_.number) + ", point " + std::to_string(target_->size() + 1) + ": "
                  : where;
    }
    fail(6,
         where + field_name() + " " + token + " is not a plain " + (signed_field() ? "number" : "non-negative number"));
  }

  // The numbers up to the next '<', appended to the element's list.
  void read_numbers() {
    if (!counted_) size_list();
    const char* p = p_;
    std::vector<double>& out = *target_;
    const bool negative_allowed = signed_field();
    for (;;) {
      while (p != end_ && is_space(*p)) ++p;
      if (p == end_ || *p == '<') break;
      const char* s = p;
      const bool negative = *p == '-';
      if (negative) {
        if (!negative_allowed) bad_number(s);
        ++p;
      }
      // Up to 15 significant digits: the digits and the power of ten are
      // exact doubles, so one division rounds as the general conversion does.
      if constexpr (std::endian::native == std::endian::little) {
        if (end_ - p >= 24) {
          // Eight bytes at a time when the buffer holds enough after p: up
          // to 8 digits, a point and up to 7 more (15 in all).
          std::uint64_t w = 0;
          std::memcpy(&w, p, 8);
          const int whole = leading_digits(w);
          const char* q = p + whole;
          if (whole < 8 || !is_digit(*q)) {
            std::uint64_t mantissa = whole ? digits_value(w, whole) : 0;
            int decimals = 0;
            if (*q == '.') {
              std::memcpy(&w, q + 1, 8);
              decimals = std::min(leading_digits(w), 15 - whole);
              if (decimals > 0) mantissa = mantissa * kPowersOf10[decimals] + digits_value(w, decimals);
              q += 1 + decimals;
            }
            if (whole + decimals > 0 && (is_space(*q) || *q == '<')) {
              double v = static_cast<double>(mantissa);
              if (decimals > 0) v /= kPowersOfTen[decimals];
              out.push_back(negative ? -v : v);
              p = q;
              continue;
            }
          }
        }
      }
      std::uint64_t mantissa = 0;
      int count = 0, decimals = 0;
      const char* digits = p;
      while (p != end_ && is_digit(*p) && count < 15) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
        ++count;
      }
      if (p != end_ && *p == '.') {
        ++p;
        while (p != end_ && is_digit(*p) && count < 15) {
          mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
          ++count;
          ++decimals;
        }
      }
      if (p == end_ && !at_end_) {
        p_ = s;  // the number may go on past the buffer
        throw NeedMore{};
      }
      if (count > 0 && (p == end_ || is_space(*p) || *p == '<')) {
        double v = static_cast<double>(mantissa);
        if (decimals > 0) v /= kPowersOfTen[decimals];
        out.push_back(negative ? -v : v);
        continue;
      }
      if (digits == end_ || !(is_digit(*digits) || (*digits == '.' && digits + 1 != end_ && is_digit(digits[1]))))
        bad_number(s);
      double v = 0.0;
      const auto r = std::from_chars(s, end_, v);
      if (r.ptr == end_ && !at_end_) {
        p_ = s;
        throw NeedMore{};
      }
      if (r.ec != std::errc() || (r.ptr != end_ && !is_space(*r.ptr) && *r.ptr != '<')) bad_number(s);
      out.push_back(v);
      p = r.ptr;
      p_ = p;
    }
    p_ = p;
  }

  void end_field() {
    const Field f = field_;
    if (single_value(f) && single_.size() != 1)
      fail(6, scan_prefix() + field_name() + (single_.empty() ? " is empty" : " holds more than one number"));
    field_ = Field::kNone;
    target_ = nullptr;
    counted_ = true;
    if (!single_value(f)) return;
    const double v = single_.front();
    switch (f) {
      case Field::kAlpha1:
        file_.k_alpha1 = v;
        have_alpha1_ = true;
        break;
      case Field::kAlpha2:
        file_.k_alpha2 = v;
        have_alpha2_ = true;
        break;
      case Field::kRatio:
        file_.ratio = v;
        have_ratio_ = true;
        break;
      case Field::kStart:
        axis_.start = v;
        have_start_ = true;
        break;
      case Field::kEnd:
        axis_.end = v;
        have_end_ = true;
        break;
      case Field::kCommon:
        axis_.start = axis_.end = v;
        have_common_ = true;
        break;
      case Field::kCommonTime:
        scan_.common_time = v;
        scan_.has_common_time = true;
        break;
      default:
        break;
    }
  }

  void end_axis() {
    const auto bad = [this](const char* what) { fail(7, scan_prefix() + "axis " + shown(axis_.name) + " " + what); };
    if (axis_.name.empty()) fail(7, scan_prefix() + "positions without an axis name");
    if (scan_.axis(axis_.name)) bad("is given twice");
    const int forms = (have_list_ ? 1 : 0) + (have_common_ ? 1 : 0) + (have_start_ || have_end_ ? 1 : 0);
    if (forms == 0) bad("gives no position");
    if (forms > 1) bad("gives its positions in more than one way");
    if (have_start_ != have_end_) bad(have_start_ ? "has no end position" : "has no start position");
    axis_.form = have_list_ ? XrdmlPositions::kList : have_common_ ? XrdmlPositions::kCommon : XrdmlPositions::kRange;
    scan_.axes.push_back(std::move(axis_));
  }

  void end_scan() {
    if (have_intensities_) {
      scan_.raw_counts = false;
    } else if (have_counts_) {
      scan_.values = std::move(counts_);
      scan_.raw_counts = true;
    } else {
      fail(7, scan_prefix() + "it holds neither intensities nor counts");
    }
    if (scan_.axes.empty()) fail(7, scan_prefix() + "it gives no positions");
    const std::size_t n = scan_.values.size();
    const auto mismatch = [&](std::size_t given, const char* what) {
      if (given != n)
        fail(7, scan_prefix() + std::to_string(given) + " " + what + " for " + std::to_string(n) + " points");
    };
    if (have_attenuation_) mismatch(scan_.attenuation.size(), "attenuation factors");
    if (have_times_) mismatch(scan_.counting_times.size(), "counting times");
    for (const XrdmlAxis& a : scan_.axes)
      if (a.form == XrdmlPositions::kList && a.list.size() != n)
        fail(7, scan_prefix() + "axis " + shown(a.name) + " has " + std::to_string(a.list.size()) + " positions for " +
                    std::to_string(n) + " points");
    file_.scans.push_back(std::move(scan_));
    scan_ = XrdmlScan{};
  }

  const char* p_;
  const char* end_;
  FileSource* source_ = nullptr;  // null: the whole text is [p_, end_)
  bool at_end_ = true;            // [p_, end_) runs to the end of the text
  XrdmlFile file_;
  // The open elements, from the root down, their names as written one after
  // another in open_names_ (no string of their own).
  struct OpenElement {
    std::size_t begin, size;
    bool data_points;  // a <dataPoints>
  };
  std::vector<OpenElement> open_;
  std::string open_names_;
  std::string_view innermost() const {
    return std::string_view(open_names_).substr(open_.back().begin, open_.back().size);
  }
  std::vector<Attribute> attributes_;  // of the tag just read
  bool root_seen_ = false, root_closed_ = false;
  std::string root_name_;    // as the file writes it
  std::string text_before_;  // what text_outside found before the root
  bool have_alpha1_ = false, have_alpha2_ = false, have_ratio_ = false;

  std::size_t scan_depth_ = 0;  // depth of the open <scan>, 0 outside one
  XrdmlScan scan_;
  std::vector<double> counts_;
  bool have_intensities_ = false, have_counts_ = false, have_attenuation_ = false, have_times_ = false;

  std::size_t axis_depth_ = 0;  // depth of the open <positions>, 0 outside one
  XrdmlAxis axis_;
  bool have_start_ = false, have_end_ = false, have_common_ = false, have_list_ = false;

  Field field_ = Field::kNone;  // the numeric element being read
  std::vector<double>* target_ = nullptr;
  bool counted_ = true;  // target_ has room for the numbers of its element
  std::vector<double> single_;
};

}  // namespace

namespace {

// A parse run by `run`, which returns the file and whether it gives a
// wavelength; its failures as the status.
template <typename Run>
XrdmlFileResult parse(Run run) {
  XrdmlFileResult r;
  try {
    auto [file, have_wavelength] = run();
    r.file = std::move(file);
    if (!have_wavelength)
      r.status = Status::warning(9, "read_xrdml_file warning: no kAlpha1 wavelength in the file, wavelength = 0");
  } catch (const ParseError& e) {
    r.file = XrdmlFile{};
    r.status = Status::error(e.code, e.message);
  } catch (const std::bad_alloc&) {
    r.file = XrdmlFile{};
    r.status = Status::error(8, "read_xrdml_file: out of memory");
  } catch (const std::length_error&) {
    r.file = XrdmlFile{};
    r.status = Status::error(8, "read_xrdml_file: out of memory");
  }
  return r;
}

}  // namespace

XrdmlFileResult parse_xrdml(std::string_view text) {
  return parse([&] {
    Parser parser(text);
    XrdmlFile scans = parser.run();  // before have_wavelength(): arguments have no order
    return std::pair(std::move(scans), parser.have_wavelength());
  });
}

XrdmlFileResult read_xrdml_file(const std::string& path, const XrdmlReadOptions& options) {
  XrdmlFileResult r;
  const std::string name = escape_for_message(path, 4096);
  int fd = -1;
  std::size_t size = 0;
  switch (xrdml_detail::open_for_reading(path, options.max_file_size, fd, size)) {
    case FileRead::kRead:
      break;
    case FileRead::kMissing:
      r.status = Status::error(1, "read_xrdml_file: file not found: " + name);
      return r;
    case FileRead::kNotRegular:
      r.status = Status::error(1, "read_xrdml_file: not a regular file: " + name);
      return r;
    case FileRead::kTooLarge:
      r.status = Status::error(
          2, "read_xrdml_file: file larger than " + std::to_string(options.max_file_size) + " bytes: " + name);
      return r;
    default:
      r.status = Status::error(1, "read_xrdml_file: cannot read file: " + name);
      return r;
  }
  const xrdml_detail::Descriptor file(fd);
  return parse([&] {
    FileSource source(fd, size, options.read_size);
    Parser parser(source);
    XrdmlFile scans = parser.run();  // before have_wavelength(): arguments have no order
    return std::pair(std::move(scans), parser.have_wavelength());
  });
}

namespace {

// The arithmetic of xrdml_values, point by point; false with the status set
// when a value is beyond the double range.
bool fill_values(const XrdmlScan& scan, const XrdmlAxis& axis, const XrdmlValueOptions& options,
                 const std::string& scan_name, XrdmlValues& r) {
  const std::size_t n = scan.points();
  for (std::size_t j = 0; j < n; ++j) {
    const double attenuation = scan.attenuation_factor(j);
    double y = scan.raw_counts ? scan.values[j] * attenuation : scan.values[j];
    double e = std::sqrt(y * attenuation);
    if (options.cps) {
      const double t = scan.counting_time(j);
      y /= t;
      e /= t;
    }
    const double x = axis.position(j, n);
    // The numbers read are finite; what they give need not be (positions
    // near the double range, a factor of 1e308): refused, never printed.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(e)) {
      const char* what = !std::isfinite(x)   ? "the position of axis "
                         : !std::isfinite(y) ? (options.cps ? "counts per second" : "the intensity")
                                             : "the error";
      r.status = Status::error(13, scan_name + ", point " + std::to_string(j + 1) + ": " + what +
                                       (std::isfinite(x) ? std::string() : escape_for_message(axis.name)) +
                                       " is beyond the range of a double");
      return false;
    }
    r.x[j] = x;
    r.y[j] = y;
    r.e[j] = e;
  }
  return true;
}

}  // namespace

XrdmlValues xrdml_values(const XrdmlScan& scan, const XrdmlValueOptions& options) {
  XrdmlValues r;
  const std::string scan_name = "xrdml_values: scan " + std::to_string(scan.number);
  if (scan.axes.empty()) {
    r.status = Status::error(11, scan_name + " has no axis");
    return r;
  }
  const XrdmlAxis* axis = options.axis.empty() ? &scan.x_axis() : scan.axis(options.axis);
  if (!axis) {
    r.status = Status::error(11, scan_name + " has no axis " + escape_for_message(options.axis));
    return r;
  }
  const std::size_t n = scan.points();
  if (options.cps) {
    if (!scan.has_common_time && scan.counting_times.empty()) {
      r.status = Status::error(12, scan_name + " gives no counting time: no counts per second");
      return r;
    }
    for (std::size_t j = 0; j < n; ++j)
      if (!(scan.counting_time(j) > 0.0)) {
        r.status = Status::error(
            12, scan_name + ", point " + std::to_string(j + 1) + ": counting time 0, no counts per second");
        return r;
      }
  }
  try {
    r.x.resize(n);
    r.y.resize(n);
    r.e.resize(n);
  } catch (const std::bad_alloc&) {
    r = XrdmlValues{};
    r.status = Status::error(14, scan_name + ": out of memory for " + std::to_string(n) + " points");
    return r;
  } catch (const std::length_error&) {
    r = XrdmlValues{};
    r.status = Status::error(14, scan_name + ": out of memory for " + std::to_string(n) + " points");
    return r;
  }
  r.axis = axis->name;
  if (!fill_values(scan, *axis, options, scan_name, r)) {
    r.x.clear(), r.y.clear(), r.e.clear();
    r.axis.clear();
  }
  return r;
}

}  // namespace talvo
