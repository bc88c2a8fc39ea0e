// A small JSON writer: objects and arrays written in place into a string,
// their members in the order given.
//
//   std::string out;
//   {
//     json::Object o(out);
//     o.number("energy", 8.048);            // "energy": 8.048
//     o.string("formula", "SiO2");
//     json::Array a(o.key("elements"));     // "elements": [...]
//   }                                       // closed as they go out of scope
//
// Numbers are the shortest text that reads back to the same double; a number
// that is not given or not finite (JSON has no NaN or infinity) is null.
// Strings are escaped: '"', '\\' and control characters, and any byte B that
// is not part of valid UTF-8 becomes the lone surrogate \udcBB, as Python's
// surrogateescape reads it: json.loads then os.fsencode give the bytes back
// (a file name that is not UTF-8 names the file still).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvo::json {

void append_number(std::string& out, std::optional<double> value);
void append_string(std::string& out, std::string_view text);

namespace detail {

// What an object and an array share: the brackets around, a comma between.
template <char Open, char Close>
class Members {
 public:
  explicit Members(std::string& out) : out_(out) { out_ += Open; }
  ~Members() { out_ += Close; }
  Members(const Members&) = delete;
  Members& operator=(const Members&) = delete;

 protected:
  std::string& next() {
    if (!first_) out_ += ", ";
    first_ = false;
    return out_;
  }

 private:
  std::string& out_;
  bool first_ = true;
};

}  // namespace detail

class Object : detail::Members<'{', '}'> {
 public:
  using Members::Members;
  // Writes the key of the next member and returns the string its value goes to.
  std::string& key(std::string_view name) {
    std::string& out = next();
    append_string(out, name);
    return out += ": ";
  }
  void number(std::string_view name, std::optional<double> value) { append_number(key(name), value); }
  void string(std::string_view name, std::string_view value) { append_string(key(name), value); }
};

class Array : detail::Members<'[', ']'> {
 public:
  using Members::Members;
  // Starts the next element and returns the string it goes to.
  using Members::next;
};

}  // namespace talvo::json
