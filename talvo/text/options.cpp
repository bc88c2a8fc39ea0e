#include "talvo/text/options.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "talvo/text/format.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

std::string spelled(std::string_view name, Spelling spelling) {
  if (spelling == Spelling::kCommandLine) return "--" + std::string(name);
  std::string k(name);
  std::replace(k.begin(), k.end(), '-', '_');
  return k;
}

std::string option_text(const OptionValue& value) {
  if (const auto* t = std::get_if<std::string>(&value)) return *t;
  if (const auto* d = std::get_if<double>(&value)) return shortest(*d);
  if (const auto* i = std::get_if<int>(&value)) return std::to_string(*i);
  const auto& r = std::get<std::array<double, 3>>(value);
  return shortest(r[0]) + ":" + shortest(r[1]) + ":" + shortest(r[2]);
}

const OptionSpec* find_option(const OptionTable& table, std::string_view name) {
  for (const OptionSpec& o : table.options)
    if (o.name == name) return &o;
  return nullptr;
}

namespace {

// The items of "a,b,c" (or "a|b|c"), blanks around each taken off; none for "".
std::vector<std::string_view> items(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  if (text.empty()) return out;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.find(separator, from);
    out.push_back(trim(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from)));
    if (at == std::string_view::npos) break;
    from = at + 1;
  }
  return out;
}

// "a, b or c" as a message lists choices.
std::string choice_words(std::string_view choices) {
  const std::vector<std::string_view> c = items(choices, '|');
  std::string out;
  for (std::size_t k = 0; k < c.size(); ++k) {
    if (k > 0) out += k + 1 == c.size() ? " or " : ", ";
    out += c[k];
  }
  return out;
}

bool among(std::string_view choices, std::string_view value) {
  const std::vector<std::string_view> c = items(choices, '|');
  return std::find(c.begin(), c.end(), value) != c.end();
}

}  // namespace

bool options_exclude(const OptionSpec& a, const OptionSpec& b) {
  for (const std::string_view x : items(a.excludes, ','))
    if (x == b.name) return true;
  for (const std::string_view x : items(b.excludes, ','))
    if (x == a.name) return true;
  return false;
}

namespace {

Error option_error(ErrorKind kind, std::string message, std::string_view option) {
  Error e = make_error(kind, std::move(message));
  e.option = std::string(option);
  return e;
}

// "above 0 mm", "0 or more", "from 0 to 1": the range as a message states it.
std::string range_words(const OptionSpec& o) {
  const std::string unit(canonical_unit(o.quantity));
  const std::string u = unit.empty() ? "" : " " + unit;
  const bool has_low = o.low > -kNoBound, has_high = o.high < kNoBound;
  if (has_low && has_high) return "from " + shortest(o.low) + " to " + shortest(o.high) + u;
  if (has_low) return o.low_open ? "above " + shortest(o.low) + u : shortest(o.low) + u + " or more";
  if (has_high) return o.high_open ? "below " + shortest(o.high) + u : shortest(o.high) + u + " or less";
  return "a finite number";
}

bool in_range(const OptionSpec& o, double v) {
  if (!std::isfinite(v)) return false;
  if (o.low_open ? !(v > o.low) : !(v >= o.low)) return false;
  if (o.high_open ? !(v < o.high) : !(v <= o.high)) return false;
  return true;
}

Error out_of_range(const OptionSpec& o, const OptionValue& value, const std::string& name) {
  return option_error(ErrorKind::kOutOfRange,
                      name + " must be " + range_words(o) + ", not " + quote_for_message(option_text(value)), o.name);
}

// `value` read as the option's type: a number as a double, a whole number as
// an int, a grid as its three numbers, anything else as its text.
Result<OptionValue> read_value(const OptionSpec& o, const OptionValue& value, const std::string& name) {
  switch (o.type) {
    case OptionType::kNumber: {
      double v = 0.0;
      if (const auto* d = std::get_if<double>(&value)) {
        v = *d;
      } else if (const auto* i = std::get_if<int>(&value)) {
        v = *i;
      } else {
        NumberOptions n;
        n.quantity = o.quantity;
        const Result<double> read = read_number(option_text(value), name, n);
        if (!read.ok()) return option_error(read.kind(), read.error().message, o.name);
        v = *read;
      }
      if (!in_range(o, v)) return out_of_range(o, value, name);
      return OptionValue(v);
    }
    case OptionType::kWhole: {
      int v = 0;
      if (const auto* i = std::get_if<int>(&value)) {
        v = *i;
      } else {
        const Result<int> read = read_whole_number(option_text(value), name);
        if (!read.ok()) return option_error(read.kind(), read.error().message, o.name);
        v = *read;
      }
      if (!in_range(o, v)) return out_of_range(o, value, name);
      return OptionValue(v);
    }
    case OptionType::kGrid: {
      if (const auto* g = std::get_if<std::array<double, 3>>(&value)) return OptionValue(*g);
      const std::string t = option_text(value);
      const std::vector<std::string_view> parts = items(t, ':');
      if (parts.size() != 3)
        return option_error(ErrorKind::kParseError, name + " needs FROM:TO:STEP, not " + quote_for_message(t), o.name);
      std::array<double, 3> g{};
      static constexpr const char* kPart[] = {" FROM", " TO", " STEP"};
      for (std::size_t k = 0; k < 3; ++k) {
        NumberOptions n;
        n.quantity = o.quantity;
        const Result<double> read = read_number(parts[k], name + kPart[k], n);
        if (!read.ok()) return option_error(read.kind(), read.error().message, o.name);
        g[k] = *read;
      }
      if (!(g[2] > 0.0) || g[1] < g[0])
        return option_error(ErrorKind::kOutOfRange,
                            name + " needs FROM <= TO and STEP above 0, not " + quote_for_message(t), o.name);
      return OptionValue(g);
    }
    case OptionType::kChoice: {
      const std::string t = option_text(value);
      if (!among(o.choices, t))
        return option_error(ErrorKind::kInvalidArgument,
                            name + " must be " + choice_words(o.choices) + ", not " + quote_for_message(t), o.name);
      return OptionValue(t);
    }
    case OptionType::kList: {
      const std::string t = option_text(value);
      for (const std::string_view item : items(t, ',')) {
        if (item.empty())
          return option_error(ErrorKind::kInvalidArgument, name + " has an empty item in " + quote_for_message(t),
                              o.name);
        if (!o.choices.empty() && !among(o.choices, item))
          return option_error(ErrorKind::kInvalidArgument,
                              name + " takes " + choice_words(o.choices) + ", not " + quote_for_message(item), o.name);
      }
      return OptionValue(t);
    }
    case OptionType::kFlag:
    case OptionType::kText:
    case OptionType::kPath:
      return OptionValue(option_text(value));
  }
  return OptionValue(option_text(value));
}

// "mode=physical" as the option and the value it names.
std::pair<std::string_view, std::string_view> when_parts(std::string_view when) {
  const std::size_t eq = when.find('=');
  if (eq == std::string_view::npos) return {when, {}};
  return {when.substr(0, eq), when.substr(eq + 1)};
}

}  // namespace

Result<Options> read_options(const OptionTable& table, const OptionValues& given, Spelling spelling) {
  const auto name = [&](std::string_view n) { return spelled(n, spelling); };
  for (const auto& [k, v] : given.values)
    if (!find_option(table, k))
      return option_error(ErrorKind::kInvalidArgument, name(k) + " is not an option of " + std::string(table.what), k);

  // An option asked now replaces what it excludes from a file; two asked now are refused.
  OptionValues in = given;
  for (const OptionSpec& o : table.options) {
    if (!in.values.count(o.name)) continue;
    for (const std::string_view x : items(o.excludes, ',')) {
      if (!in.values.count(x)) continue;
      const bool mine_from_file = in.from_file.count(o.name) > 0, other_from_file = in.from_file.count(x) > 0;
      if (mine_from_file == other_from_file)
        return option_error(ErrorKind::kInvalidArgument, "give " + name(o.name) + " or " + name(x) + ", not both",
                            o.name);
      const std::string_view drop = mine_from_file ? o.name : x;
      in.values.erase(in.values.find(drop));
      in.from_file.erase(std::string(drop));
    }
  }

  Options out;
  out.specs_ = table.options;
  out.from_file_ = in.from_file;
  for (const OptionSpec& o : table.options) {
    const auto it = in.values.find(o.name);
    if (it == in.values.end()) continue;
    Result<OptionValue> v = read_value(o, it->second, name(o.name));
    if (!v.ok()) return v.error();
    out.values_.emplace(std::string(o.name), std::move(v).value());
  }
  // The defaults are the table's own text, read as a given value is.
  for (const OptionSpec& o : table.options) {
    if (o.default_text.empty() || out.given(o.name)) continue;
    Result<OptionValue> v = read_value(o, OptionValue(std::string(o.default_text)), name(o.name));
    if (!v.ok()) return v.error();
    out.defaults_.emplace(std::string(o.name), std::move(v).value());
  }
  for (const OptionSpec& o : table.options) {
    if (!out.asked(o.name)) continue;
    if (!o.when.empty()) {
      const auto [selector, wanted] = when_parts(o.when);
      const std::string now = out.text(selector);
      if (now != wanted)
        return option_error(ErrorKind::kInvalidArgument,
                            name(o.name) + " belongs to " + name(selector) + " " + std::string(wanted), o.name);
    }
    for (const std::string_view n : items(o.needs, ','))
      if (!out.given(n)) return option_error(ErrorKind::kInvalidArgument, name(o.name) + " needs " + name(n), o.name);
  }
  // In effect: what the run uses, so not an option of another choice, even one a file carried.
  for (const OptionSpec& o : table.options) {
    const OptionValue* v = out.effective(o.name);
    if (!v) continue;
    if (!o.when.empty()) {
      const auto [selector, wanted] = when_parts(o.when);
      if (out.text(selector) != wanted) continue;
    }
    if (o.type == OptionType::kFlag && !out.given(o.name)) continue;
    out.in_effect_.emplace_back(std::string(o.name), o.type == OptionType::kFlag ? "1" : option_text(*v));
  }
  return out;
}

Result<Options> with_values(const OptionTable& table, const Options& options, const OptionValues& changed) {
  OptionValues v;
  for (const auto& [name, value] : options.values_) v.values[name] = value;
  v.from_file = options.from_file_;
  for (const auto& [name, value] : changed.values) {
    v.values[name] = value;
    v.from_file.erase(name);
  }
  return read_options(table, v, Spelling::kCommandLine);
}

const OptionValue* Options::effective(std::string_view name) const {
  if (const auto it = values_.find(name); it != values_.end()) return &it->second;
  if (const auto it = defaults_.find(name); it != defaults_.end()) return &it->second;
  return nullptr;
}

bool Options::flag(std::string_view name) const { return given(name); }

std::optional<double> Options::number_if(std::string_view name) const {
  const OptionValue* v = effective(name);
  if (!v) return std::nullopt;
  if (const auto* d = std::get_if<double>(v)) return *d;
  if (const auto* i = std::get_if<int>(v)) return static_cast<double>(*i);
  return std::nullopt;
}

std::optional<int> Options::whole_if(std::string_view name) const {
  const OptionValue* v = effective(name);
  if (!v) return std::nullopt;
  if (const auto* i = std::get_if<int>(v)) return *i;
  return std::nullopt;
}

std::string Options::text(std::string_view name) const {
  const OptionValue* v = effective(name);
  return v ? option_text(*v) : std::string();
}

std::optional<std::array<double, 3>> Options::grid(std::string_view name) const {
  const OptionValue* v = effective(name);
  if (!v) return std::nullopt;
  if (const auto* g = std::get_if<std::array<double, 3>>(v)) return *g;
  return std::nullopt;
}

std::vector<std::string> Options::list(std::string_view name) const {
  std::vector<std::string> out;
  const std::string whole = text(name);  // the items are views into it: it must outlive the loop
  for (const std::string_view item : items(whole, ',')) out.emplace_back(item);
  return out;
}

namespace {

// Choices up to this long stand as the metavar ("physical|adhoc"); longer ones in the doc.
constexpr std::size_t kShownChoices = 20;

std::string metavar_of(const OptionSpec& o) {
  if (!o.metavar.empty()) return std::string(o.metavar);
  switch (o.type) {
    case OptionType::kFlag:
      return "";
    case OptionType::kNumber:
      return "X";
    case OptionType::kWhole:
      return "N";
    case OptionType::kText:
      return "TEXT";
    case OptionType::kChoice:
      return o.choices.size() <= kShownChoices ? std::string(o.choices) : "NAME";
    case OptionType::kPath:
      return "FILE";
    case OptionType::kGrid:
      return "FROM:TO:STEP";
    case OptionType::kList:
      return "LIST";
  }
  return "";
}

// The doc with its choices where the metavar does not show them, its unit
// and its default: "the geometry (reflection, transmission or capillary;
// default reflection)", "the radius (mm; default 1)".
std::string doc_line(const OptionSpec& o) {
  std::string d(o.doc);
  std::string extra;
  if (o.type == OptionType::kChoice && o.choices.size() > kShownChoices) extra = choice_words(o.choices);
  const std::string_view unit = canonical_unit(o.quantity);
  if (o.type == OptionType::kNumber && !unit.empty()) extra += (extra.empty() ? "" : "; ") + std::string(unit);
  if (!o.default_text.empty())
    extra += (extra.empty() ? "" : "; ") + std::string("default ") + std::string(o.default_text);
  if (!extra.empty()) d += " (" + extra + ")";
  return d;
}

// The table's options in the order --help lists them: those of every choice
// first, then each `when` group in the order it first appears.
std::vector<std::vector<const OptionSpec*>> help_groups(const OptionTable& table) {
  std::vector<std::vector<const OptionSpec*>> groups(1);
  std::vector<std::string_view> whens{{}};
  for (const OptionSpec& o : table.options) {
    auto it = std::find(whens.begin(), whens.end(), o.when);
    if (it == whens.end()) {
      whens.push_back(o.when);
      groups.emplace_back();
      it = whens.end() - 1;
    }
    groups[static_cast<std::size_t>(it - whens.begin())].push_back(&o);
  }
  return groups;
}

}  // namespace

std::string usage_text(const OptionTable& table) {
  std::size_t width = 0;
  for (const OptionSpec& o : table.options) {
    const std::string m = metavar_of(o);
    width = std::max(width, 2 + o.name.size() + (m.empty() ? 0 : 1 + m.size()));
  }
  std::string out;
  for (const auto& group : help_groups(table)) {
    if (group.empty()) continue;
    if (!group.front()->when.empty()) {
      const auto [selector, wanted] = when_parts(group.front()->when);
      out += " with --" + std::string(selector) + " " + std::string(wanted) + ":\n";
    }
    for (const OptionSpec* o : group) {
      const std::string m = metavar_of(*o);
      std::string left = "--" + std::string(o->name) + (m.empty() ? "" : " " + m);
      left.resize(width, ' ');
      out += "  " + left + "  " + doc_line(*o) + "\n";
    }
  }
  return out;
}

std::string man_text(const OptionTable& table) {
  // roff: a leading dot or quote would start a request, a backslash an escape.
  const auto roff = [](std::string_view t) {
    std::string out;
    for (const char c : t) {
      if (c == '\\')
        out += "\\e";
      else if (c == '-')
        out += "\\-";
      else
        out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
  };
  std::string out;
  for (const OptionSpec& o : table.options) {
    const std::string m = metavar_of(o);
    out += ".TP\n\\fB" + roff("--" + std::string(o.name)) + "\\fR" + (m.empty() ? "" : " \\fI" + roff(m) + "\\fR") +
           "\n" + roff(doc_line(o)) + "\n";
  }
  return out;
}

std::string python_keywords(const OptionTable& table) {
  std::string out;
  for (const OptionSpec& o : table.options) {
    if (!out.empty()) out += ", ";
    out += spelled(o.name, Spelling::kKeyword) + ": ";
    switch (o.type) {
      case OptionType::kFlag:
        out += "bool = False";
        continue;
      case OptionType::kNumber:
        out += "float | str | None";
        break;
      case OptionType::kWhole:
        out += "int | None";
        break;
      case OptionType::kGrid:
        out += "tuple[float, float, float] | str | None";
        break;
      case OptionType::kPath:
        out += "str | os.PathLike[str] | None";
        break;
      case OptionType::kText:
      case OptionType::kChoice:
      case OptionType::kList:
        out += "str | None";
        break;
    }
    out += " = None";
  }
  return out;
}

std::string header_text(const OptionTable& table, const Options& options) {
  (void)table;
  std::string out;
  for (const auto& [k, v] : options.in_effect()) out += k + " = " + v + "\n";
  return out;
}

std::string options_json(const OptionTable& table) {
  static constexpr const char* kType[] = {"flag", "number", "whole", "text", "choice", "path", "grid", "list"};
  std::string out = "[";
  for (const OptionSpec& o : table.options) {
    if (out.size() > 1) out += ",";
    out += "{\"name\":";
    json::append_string(out, o.name);
    out += ",\"type\":";
    json::append_string(out, kType[static_cast<int>(o.type)]);
    out += ",\"unit\":";
    json::append_string(out, canonical_unit(o.quantity));
    out += ",\"default\":";
    json::append_string(out, o.default_text);
    out += ",\"choices\":[";
    bool first = true;
    for (const std::string_view c : items(o.choices, '|')) {
      if (!first) out += ",";
      first = false;
      json::append_string(out, c);
    }
    out += "],\"when\":";
    json::append_string(out, o.when);
    out += ",\"doc\":";
    json::append_string(out, o.doc);
    out += "}";
  }
  return out + "]";
}

}  // namespace talvo
