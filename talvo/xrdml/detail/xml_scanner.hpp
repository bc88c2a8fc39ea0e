// The XML underneath the XRDML reader (internal to it): bytes classed and
// searched eight or sixteen at a time, attribute values decoded, the file
// read a piece at a time, and XmlScanner, which takes the markup apart in one
// pass and hands elements, attributes and the text between tags to the
// reader that builds the measurement from them.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "talvo/files/read.hpp"
#include "talvo/result.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::xrdml_detail {

// How far a step of the scan got: all of what it reads, or only up to the
// end of the buffer while more of the file is to come; the step is then taken
// again, whole, once more is read.
enum class Got { kAll, kCut };
using Step = Result<Got>;

// Whether a step stops the scan here: it failed, or it was cut.
inline bool stops(const Step& s) { return !s.ok() || *s == Got::kCut; }

inline Error fail(ErrorKind kind, std::string message) { return make_error(kind, std::move(message)); }

// A name from the file as a message shows it: control characters escaped.
inline std::string shown(std::string_view name) { return escape_for_message(name, 80); }

// What a byte is to the markup, one bit each, looked up rather than compared
// in turn: the loops over names and blanks run once per byte of the file.
enum : std::uint8_t { kBlank = 1, kGt = 2, kSlash = 4, kEquals = 8, kLt = 16 };
inline constexpr std::array<std::uint8_t, 256> kByteClass = [] {
  std::array<std::uint8_t, 256> c{};
  c[' '] = c['\n'] = c['\r'] = c['\t'] = kBlank;
  c['>'] = kGt;
  c['/'] = kSlash;
  c['='] = kEquals;
  c['<'] = kLt;
  return c;
}();
inline bool is(char c, std::uint8_t classes) { return (kByteClass[static_cast<unsigned char>(c)] & classes) != 0; }
inline bool is_space(char c) { return is(c, kBlank); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// s equal to a literal, compared in line (the literal's length is known).
template <std::size_t N>
inline bool same(std::string_view s, const char (&literal)[N]) {
  return s.size() == N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

// Eight bytes at a time: the high bit of each byte of w below n (n at most
// 0x80), or equal to c. Only the lowest flag is sure (a borrow may flag a
// byte above it), which is all a search needs.
inline constexpr std::uint64_t kEachByte = 0x0101010101010101u, kHighBits = 0x8080808080808080u;
inline std::uint64_t bytes_below(std::uint64_t w, std::uint8_t n) { return (w - kEachByte * n) & ~w & kHighBits; }
inline std::uint64_t bytes_equal(std::uint64_t w, char c) {
  return bytes_below(w ^ (kEachByte * static_cast<std::uint8_t>(c)), 1);
}

// The first c from q (end when none): mostly a few bytes on, so the first
// sixteen are looked at in line, eight at a time, before memchr.
inline const char* find_byte(const char* q, const char* end, char c) {
  if constexpr (std::endian::native == std::endian::little) {
    for (int k = 0; k < 2 && end - q >= 8; ++k, q += 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, q, 8);
      if (const std::uint64_t found = bytes_equal(w, c)) return q + std::countr_zero(found) / 8;
    }
  }
  if (q == end) return end;  // memchr takes no null pointer, even for no bytes
  const void* at = std::memchr(q, c, static_cast<std::size_t>(end - q));
  return at ? static_cast<const char*>(at) : end;
}

// The first byte from q whose class is one of `stops` (end when none), and
// in `colon` whether a ':' comes before it. Tag and attribute names end at
// a blank, '>', '/' or '=': those and the other bytes up to ' ' are found
// eight at a time, then told apart by their class.
inline const char* name_end(const char* q, const char* end, std::uint8_t stops, bool& colon) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - q >= 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, q, 8);
      const std::uint64_t found =
          bytes_below(w, 0x21) | bytes_equal(w, '>') | bytes_equal(w, '/') | bytes_equal(w, '=');
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

inline std::string_view local_name(std::string_view name) {
  const auto colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

inline void append_utf8(std::string& s, unsigned long cp) {
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
inline std::string decode(std::string_view v) {
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
inline std::size_t count_words(const char* p, std::size_t n, bool& ink_before) {
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
  // `stop` (may be empty) is asked before each piece is read.
  FileSource(RegularFile& file, std::size_t piece, StopCheck stop = {})
      : file_(file),
        size_(static_cast<std::size_t>(file.size())),
        piece_(std::max<std::size_t>(piece, 1)),
        stop_(std::move(stop)) {}

  // Moves [from, end) to the start of the buffer and reads after it, growing
  // the buffer when [from, end) fills it. The new [begin, end) in `from`, `end`;
  // kIoError when the read fails or the file has become shorter, kCancelled
  // when `stop` asks.
  Outcome refill(const char*& from, const char*& end) {
    if (stop_asked(stop_)) return cancelled();
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
      const Result<std::size_t> got = file_.read(buffer_.get() + filled, keep + want - filled);
      if (!got.ok()) return got.error();
      if (*got == 0)
        return fail(ErrorKind::kIoError, "the file became shorter while it was read (from " + std::to_string(size_) +
                                             " to " + std::to_string(offset_ + filled - keep) +
                                             " bytes): it is cut short");
      filled += *got;
    }
    offset_ += want;
    from = buffer_.get();
    end = buffer_.get() + filled;
    return Done{};
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
      const Result<std::size_t> got = file_.read_at(scratch_.get(), std::min(kScratch, size_ - at), at);
      if (!got.ok() || *got == 0) break;  // the read itself will say what is wrong
      const std::size_t n = *got;
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
  RegularFile& file_;
  std::size_t size_, piece_, offset_ = 0, capacity_ = 0;
  std::unique_ptr<char[]> buffer_, scratch_;
  StopCheck stop_;
};

struct Attribute {
  std::string_view name;  // without its namespace prefix
  std::string_view value;
};

// One pass over the text: markup is taken apart as it comes, well-formed or
// refused, and handed to the Builder (which derives from the scanner):
//   bool reading_numbers() const     the element open holds numbers: the
//                                    builder reads the text up to the next
//                                    '<' itself, with read_numbers()
//   Step read_numbers()
//   Outcome first_element(raw, name) the root, to be checked
//   static bool marks(name)          an element whose children the builder
//                                    wants to know as such
//   Outcome start_element(name, depth, parent_marked)
//   Outcome end_element(depth)       before the element is closed
// raw is a name as written, name the same without its namespace prefix. A
// step that reaches the end of the buffer before its own end, with more of
// the file to come, leaves p_ at its start and says it was cut.
template <class Builder>
class XmlScanner {
 protected:
  explicit XmlScanner(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") p_ += 3;
  }
  explicit XmlScanner(FileSource& source) : p_(nullptr), end_(nullptr), source_(&source), at_end_(source.at_end()) {}

  // The whole text, up to the root's end tag and whatever blanks follow.
  Outcome scan() {
    if (source_ && !at_end_) {
      if (Outcome read = more(); !read.ok()) return read;
      while (!at_end_ && end_ - p_ < 3)
        if (Outcome read = more(); !read.ok()) return read;
      if (std::string_view(p_, static_cast<std::size_t>(end_ - p_)).substr(0, 3) == "\xEF\xBB\xBF") p_ += 3;
    }
    for (;;) {
      Step step = Got::kAll;
      if (builder().reading_numbers()) {
        step = builder().read_numbers();
      } else {
        // Mostly a few blanks to the next tag.
        const char* q = find_byte(p_, end_, '<');
        if (open_.empty()) step = text_outside(q);
        if (!stops(step)) p_ = q;
      }
      if (!stops(step)) {
        if (p_ == end_) {
          if (at_end_) break;
          step = Got::kCut;
        } else {
          step = markup();
        }
      }
      if (!step.ok()) return step.error();
      // What was cut by the end of the buffer is read again, whole, from p_.
      if (*step == Got::kCut)
        if (Outcome read = more(); !read.ok()) return read;
    }
    if (!root_seen_) return fail(ErrorKind::kParseError, "not an XRDML file: it holds no XML element");
    if (!root_closed_)
      return fail(ErrorKind::kParseError, "the file ends inside <" + shown(innermost()) + ">: it is cut short");
    return Done{};
  }

  // The buffer ends before what is being read does: cut while more of the
  // file is to come, else the file is cut short.
  Step truncated() const {
    if (!at_end_) return Got::kCut;
    return fail(ErrorKind::kParseError, open_.empty()
                                            ? std::string("the file ends inside a tag: it is cut short")
                                            : "the file ends inside <" + shown(innermost()) + ">: it is cut short");
  }
  static Error malformed(const std::string& what) { return fail(ErrorKind::kParseError, "broken markup: " + what); }

  // The value of an attribute of the start tag just read, decoded; empty when not given.
  std::string attribute(std::string_view name) const {
    for (const Attribute& a : attributes_)
      if (a.name.size() == name.size() && std::memcmp(a.name.data(), name.data(), name.size()) == 0)
        return decode(a.value);
    return {};
  }

  std::string_view innermost() const {
    return std::string_view(open_names_).substr(open_.back().begin, open_.back().size);
  }

  const char* p_;
  const char* end_;
  FileSource* source_ = nullptr;  // null: the whole text is [p_, end_)
  bool at_end_ = true;            // [p_, end_) runs to the end of the text

 private:
  Builder& builder() { return static_cast<Builder&>(*this); }

  // The rest of the file after [p_, end_), which is kept.
  Outcome more() {
    if (Outcome read = source_->refill(p_, end_); !read.ok()) return read;
    at_end_ = source_->at_end();
    return Done{};
  }

  void skip_spaces(const char*& q) const {
    while (q != end_ && is_space(*q)) ++q;
  }

  // Moves past `close`, searched from q; the file cut short when it is missing.
  Step skip_past(const char* q, std::string_view close) {
    const std::string_view rest(q, static_cast<std::size_t>(end_ - q));
    const auto at = rest.find(close);
    if (at == std::string_view::npos) return truncated();
    p_ = q + at + close.size();
    return Got::kAll;
  }

  Step markup() {
    const char* s = p_ + 1;
    if (s == end_) return truncated();
    const std::string_view rest(s, static_cast<std::size_t>(end_ - s));
    if (*s == '?') return skip_past(s, "?>");
    if (rest.size() >= 3 && same(rest.substr(0, 3), "!--")) return skip_past(s + 3, "-->");
    if (rest.starts_with("![CDATA[")) {
      if (builder().reading_numbers()) return malformed("numbers in a CDATA section are not read");
      return skip_past(s, "]]>");
    }
    if (*s == '!') return skip_declaration(s);
    if (*s == '/') return end_tag(s + 1);
    return start_tag(s);
  }

  // <!DOCTYPE ...> and the like, with an internal subset in brackets.
  Step skip_declaration(const char* q) {
    int brackets = 0;
    for (; q != end_; ++q) {
      if (*q == '"' || *q == '\'') {
        const void* close = std::memchr(q + 1, *q, static_cast<std::size_t>(end_ - q - 1));
        if (!close) return truncated();
        q = static_cast<const char*>(close);
      } else if (*q == '[') {
        ++brackets;
      } else if (*q == ']') {
        --brackets;
      } else if (*q == '>' && brackets <= 0) {
        p_ = q + 1;
        return Got::kAll;
      }
    }
    return truncated();
  }

  Step end_tag(const char* n) {
    bool colon = false;
    const char* q = name_end(n, end_, kBlank | kGt, colon);
    const std::string_view name(n, static_cast<std::size_t>(q - n));
    skip_spaces(q);
    if (q == end_) return truncated();
    if (*q != '>') return malformed("</" + shown(name) + " is not closed by '>'");
    p_ = q + 1;
    if (Outcome ended = end_element(name); !ended.ok()) return ended.error();
    return Got::kAll;
  }

  Step start_tag(const char* n) {
    bool colon = false;
    const char* q = name_end(n, end_, kBlank | kGt | kSlash, colon);
    const std::string_view name(n, static_cast<std::size_t>(q - n));
    if (name.empty()) return malformed("'<' is not followed by a tag name");
    attributes_.clear();
    bool empty = false;
    for (;;) {
      skip_spaces(q);
      if (q == end_) return truncated();
      if (*q == '>') {
        ++q;
        break;
      }
      if (*q == '/') {
        if (++q == end_) return truncated();
        if (*q != '>') return malformed("'/' inside the tag <" + shown(name) + ">");
        ++q;
        empty = true;
        break;
      }
      const char* a = q;
      bool prefixed = false;
      q = name_end(q, end_, kBlank | kEquals | kGt | kSlash, prefixed);
      const std::string_view attribute(a, static_cast<std::size_t>(q - a));
      skip_spaces(q);
      if (q == end_) return truncated();
      if (attribute.empty() || *q != '=')
        return malformed("an attribute without a value in the tag <" + shown(name) + ">");
      ++q;
      skip_spaces(q);
      if (q == end_) return truncated();
      const char quote = *q;
      if (quote != '"' && quote != '\'')
        return malformed("an attribute value without quotes in the tag <" + shown(name) + ">");
      ++q;
      const char* c = find_byte(q, end_, quote);
      if (c == end_) return truncated();
      attributes_.push_back(
          {prefixed ? local_name(attribute) : attribute, std::string_view(q, static_cast<std::size_t>(c - q))});
      q = c + 1;
    }
    p_ = q;
    if (Outcome started = start_element(name, colon ? local_name(name) : name); !started.ok()) return started.error();
    if (empty)
      if (Outcome ended = end_element(name); !ended.ok()) return ended.error();
    return Got::kAll;
  }

  Outcome start_element(std::string_view raw, std::string_view name) {
    if (root_closed_) return malformed("a second measurement <" + shown(raw) + "> after </" + shown(root_name_) + ">");
    if (!root_seen_) {
      root_seen_ = true;
      root_name_.assign(raw);
      if (Outcome root = builder().first_element(raw, name); !root.ok()) return root;
      if (!text_before_.empty()) return malformed(text_before_);
    }
    if (builder().reading_numbers()) return malformed("<" + shown(raw) + "> inside <" + shown(innermost()) + ">");
    const bool parent_marked = !open_.empty() && open_.back().marked;
    open_.push_back({open_names_.size(), raw.size(), Builder::marks(name)});
    open_names_.append(raw);
    return builder().start_element(name, open_.size(), parent_marked);
  }

  Outcome end_element(std::string_view raw) {
    if (open_.empty()) return malformed("</" + shown(raw) + "> closes no element");
    if (innermost() != raw) return malformed("</" + shown(raw) + "> closes <" + shown(innermost()) + ">");
    if (Outcome ended = builder().end_element(open_.size()); !ended.ok()) return ended;
    open_names_.resize(open_.back().begin);
    open_.pop_back();
    if (open_.empty()) root_closed_ = true;
    return Done{};
  }

  // Outside the root element only blanks may stand between the tags: text
  // there, such as a second file's numbers joined on by `cat`, is refused.
  // Text before it is refused once the root is found (a file of text alone
  // is no XRDML file at all).
  Step text_outside(const char* q) {
    if (!text_before_.empty()) return Got::kAll;
    const char* s = p_;
    while (s != q && is_space(*s)) ++s;
    if (s == q) return Got::kAll;
    const char* w = s;
    while (w != end_ && !is_space(*w) && *w != '<' && w - s <= 40) ++w;
    if (w == end_ && !at_end_) {
      p_ = s;  // the message shows the word as the file has it, not as the buffer cut it
      return Got::kCut;
    }
    text_before_ = "text " + quote_for_message(std::string_view(s, static_cast<std::size_t>(w - s)), 40) +
                   " outside <xrdMeasurements>";
    if (root_seen_) return malformed(text_before_);
    return Got::kAll;
  }

  // The open elements, from the root down, their names as written one after
  // another in open_names_ (no string of their own).
  struct OpenElement {
    std::size_t begin, size;
    bool marked;  // Builder::marks(its name)
  };
  std::vector<OpenElement> open_;
  std::string open_names_;
  std::vector<Attribute> attributes_;  // of the tag just read
  bool root_seen_ = false, root_closed_ = false;
  std::string root_name_;    // as the file writes it
  std::string text_before_;  // what text_outside found before the root
};

}  // namespace talvo::xrdml_detail
