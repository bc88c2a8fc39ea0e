#include "app/driver.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <ostream>

#include "app/composition_dialogue.hpp"
#include "app/run_end.hpp"
#include "talvo/classic/averages.hpp"
#include "talvo/classic/files.hpp"
#include "talvo/classic/nuclear_tables.hpp"
#include "talvo/classic/print.hpp"
#include "talvo/classic/report.hpp"
#include "talvo/classic/sample_file.hpp"
#include "talvo/console/check_file.hpp"
#include "talvo/console/prompts.hpp"
#include "talvo/files/files.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

// The dialogue is built on the classic routines: the report, its averages, the sample files.
using namespace classic;

namespace {

constexpr std::size_t kNameLength = 200;
constexpr std::size_t kFileSpecLength = 100;
constexpr int kReportUnit = 10;
constexpr int kSampleUnit = 11;
constexpr int kRecordLength = 132;
constexpr int kSampleReadPrint = 1;

// True when `text` ends in `suffix`, compared case-blind.
bool ends_with_blind(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && equal_case_blind(text.substr(text.size() - suffix.size()), suffix);
}

// The characters of a UTF-8 text: a byte that begins no well-formed
// character (a stray continuation byte, a cut or overlong sequence, a
// surrogate) counts as one of its own, so that no text is shorter than the
// characters a terminal shows for it.
std::size_t characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80                    ? 1
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    bool whole = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; whole && k < length; ++k) whole = (byte(i + k) & 0xC0) == 0x80;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    if (whole && length > 2) {
      const unsigned char second = byte(i + 1);
      whole = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second > 0x9F) &&
              !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second > 0x8F);
    }
    i += whole ? length : 1;
  }
  return count;
}

// Asks for a file name without its extension, as get_stringd asks for a
// text, but keeps the whole reply up to kNameLength characters (of UTF-8,
// as the terminal shows them): a name cut short could be another run's. A longer name, or one holding a control
// character (a NUL would end it early), is asked again. An empty reply takes
// `shown_default` when there is one. The reply without its trailing blanks.
Result<std::string> ask_name(Console& con, std::string_view text, const std::string* shown_default) {
  const std::string question = " Give " + std::string(text) + (shown_default ? " (" + *shown_default + ") > " : " > ");
  for (;;) {
    prompt(con, question);
    const Result<std::string> got = read_reply(con);
    if (!got.ok()) return got.error();
    const std::string& reply = *got;
    if (reply.empty()) {
      if (shown_default) return *shown_default;
      line(con, " Give a name");
      continue;
    }
    const std::string name(trim_end(reply));
    if (characters(name) > kNameLength) {
      line(con, " A name can have at most " + free_int(static_cast<long long>(kNameLength)) + " characters");
      continue;
    }
    if (std::any_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
      line(con, " A name cannot hold control characters");
      continue;
    }
    return name;
  }
}

// True when `name` ends in a folder ("/", "." or ".."), or in blanks after
// one: it names no file, and would give hidden files such as "..talvo".
bool names_no_file(std::string_view name) {
  const auto slash = name.find_last_of('/');
  const std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
  return file.find_first_not_of(' ') == std::string_view::npos || file == "." || file == "..";
}

// Why the report (and, with `with_sample`, the sample) cannot be written
// under `name`, as far as it shows before anything is written; empty when
// nothing does. A folder of that name would be found only once the report
// is complete, and a symbolic link would be replaced by the file (writing
// through it could overwrite whatever a link planted in a shared folder
// points to): both are refused. So is a name longer, in bytes, than the
// file system takes with the extension and the hidden temporary name
// (".NAME.talvo.XXXXXX") a replacement is linked under first.
std::string unusable(const std::string& name, bool with_sample) {
  const std::size_t slash = name.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t longest = name.size() - (slash == std::string::npos ? 0 : slash + 1) +
                              (with_sample ? std::string_view(".sample") : std::string_view(".talvo")).size() + 8;
  if (longest > static_cast<std::size_t>(limit > 0 ? limit : 255))
    return " The name is too long for the file system: give a shorter one";
  for (const char* extension : {".talvo", ".sample"}) {
    if (!with_sample && std::string_view(extension) == ".sample") continue;
    const std::string file = name + extension;
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) return " " + file + " is a symbolic link, which would be replaced: give another name";
    if (S_ISDIR(st.st_mode)) return " " + file + " is a folder: give another name";
  }
  return {};
}

// The report's name without ".talvo". A blank name would write the hidden
// files ".talvo" and ".sample", a name ending in a folder hidden files in it;
// a name whose files cannot be written (see unusable): all are asked again.
Result<std::string> ask_report_name(Console& con, const std::string& suggested, bool with_sample) {
  for (;;) {
    Result<std::string> asked =
        ask_name(con, "name only for output .TALVO file", suggested.empty() ? nullptr : &suggested);
    if (!asked.ok()) return asked;
    std::string name = std::move(*asked);
    if (name.size() > 6 && ends_with_blind(name, ".talvo")) name.resize(name.size() - 6);
    if (names_no_file(name)) {
      line(con, name.find_first_not_of(' ') == std::string::npos ? " Give a name"
                                                                 : " Give a name for the file, not only its folder");
      continue;
    }
    const std::string why = unusable(name, with_sample);
    if (why.empty()) return name;
    line(con, why);
  }
}

Result<int> ask_option(Console& con) {
  for (;;) {
    int option = 1;
    if (Outcome asked = get_intd(con, option, "option", 1, Explain::kSayWhy); !asked.ok()) return asked.error();
    if (option >= -1 && option <= 2) return option;
    line(con, " The option must be -1, 0, 1 or 2");
  }
}

// What tells a file's content on disk apart: a file put in its place, or
// written over, differs in one of these.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};

  static std::optional<FileIdentity> of(const std::string& name) {
    struct stat st {};
    if (stat(name.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  }
  bool operator==(const FileIdentity& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

struct SampleSource {
  std::string name;  // without ".sample"
  Composition composition;
  std::string file;                      // the file read
  std::optional<FileIdentity> identity;  // as it was read
};

// Menu option -1; nothing when the user typed "abort".
Result<std::optional<SampleSource>> read_sample_file(Console& con) {
  std::string name;
  for (;;) {
    Result<std::string> asked = ask_name(con, "name only for input .SAMPLE file", nullptr);
    if (!asked.ok()) return asked.error();
    name = std::move(*asked);
    if (!name.empty()) break;
    line(con, " Give the name of a .sample file, or abort");
  }
  if (equal_case_blind(name, "abort")) return std::optional<SampleSource>();
  if (ends_with_blind(name, ".sample")) name.resize(name.size() - 7);
  const auto file = check_file(name + ".sample", CheckFile::kMustExist, &con);
  if (!file) return run_end();
  SampleSource source{name, {}, *file, FileIdentity::of(*file)};
  Result<InputFile> in = InputFile::open(*file);
  if (!in.ok()) {
    line(con, " " + in.error().message);
    return run_end();
  }
  const Status s = read_sample(in->stream(), source.composition, kSampleReadPrint, con.out);
  if (!s.ok()) {
    pr_int(con.out, "read_sample reports error number ", s.ierr);
    line(con, " " + std::string(trim_end(s.message)));
    return run_end();
  }
  line(con, "");
  return std::optional<SampleSource>(std::move(source));
}

// Ends the run with a data-file error's message.
// The readers' messages are the lines the calculator shows.
Error fail(Console& con, const Status& s) {
  line(con, " " + s.message);
  return run_end();
}

Result<std::string> choose_data_file(Console& con, const DataFolder& data, SampleKind kind) {
  std::string name = data.file(kind == SampleKind::kNaturalElements ? "sears91.dat" : "sears.ascii");
  line(con, " Default cross-section data file is " + name);
  prompt(con, " Type CR to accept, or give alternative file spec. > ");
  const Result<std::string> got = read_reply(con);
  if (!got.ok()) return got.error();
  const std::string reply(trim_end(got->substr(0, kFileSpecLength)));
  if (!reply.empty()) name = reply;
  if (!check_file(name, CheckFile::kMustExist, &con)) return run_end();
  return name;
}

Result<NuclearTable> load_tables(Console& con, const DataFolder& data, SampleKind kind, const std::string& name) {
  NuclearTable table;
  if (kind == SampleKind::kNaturalElements) {
    if (Status s = read_natural_file(name, table); s.failed()) return fail(con, s);
  } else {
    if (Status s = read_isotope_file(name, table); s.failed()) return fail(con, s);
    const std::string weights_file = data.file("at_weights.dat");
    if (!check_file(weights_file, CheckFile::kMustExist, &con)) return run_end();
    std::vector<AtomicWeight> weights;
    if (Status s = read_atomic_weights(weights_file, weights); s.failed()) return fail(con, s);
    for (const NuclearEntry* e : attach_masses(table, weights)) {
      line(con, " An atomic mass value has not been found for " + fmt_i(e->z, 3) + fixed(e->symbol, 2));
      line(con, " A value " + fmt_e(static_cast<float>(e->a), 10, 3) + " will be assumed");
    }
  }
  line(con, " File " + std::string(trim_end(name)) + "read successfully");
  line(con, " Number of entries in file =" + fmt_i(static_cast<long long>(table.entries.size()), 4));
  return table;
}

Result<int> run(Console& con, const DataFolder& data, const NewFileOptions& files) {
  line(con, "");
  con.out << banner_lines().text;
  line(con, "");
  for (const char* item :
       {" Options...", " -1) Read .sample file", "  0) Exit", "  1) Natural elements", "  2) Isotopes"})
    line(con, item);
  const Result<int> asked = ask_option(con);
  if (!asked.ok()) return asked.error();
  const int option = *asked;
  if (option == 0) return 0;
  line(con, "");

  std::optional<SampleSource> from_file;
  SampleKind kind = static_cast<SampleKind>(option);
  if (option == -1) {
    Result<std::optional<SampleSource>> read = read_sample_file(con);
    if (!read.ok()) return read.error();
    from_file = std::move(*read);
    if (!from_file) return 0;
    kind = from_file->composition.kind;
  }

  const Result<std::string> chosen = choose_data_file(con, data, kind);
  if (!chosen.ok()) return chosen.error();
  const std::string& data_file = *chosen;
  const Result<NuclearTable> loaded = load_tables(con, data, kind, data_file);
  if (!loaded.ok()) return loaded.error();
  const NuclearTable& table = *loaded;
  const Result<Composition> entered =
      from_file ? Result<Composition>(from_file->composition) : enter_composition(con, kind, table);
  if (!entered.ok()) return entered.error();
  const Composition& comp = *entered;

  // Match the composition and show the primary data.
  line(con, "");
  line(con, " Units: b in fm, sigma in barns, A in amu (12C)");
  line(con, "");
  line(con, " PRIMARY DATA...");
  line(con, primary_data_header());
  std::vector<std::vector<const NuclearEntry*>> matched;
  // The primary data show the entries found before the first missing one.
  const Status found = match_composition(comp, table, matched);
  for (const auto& element : matched)
    for (const NuclearEntry* e : element) line(con, primary_data_line(*e));
  if (found.failed()) {
    line(con, " An element was not found in the file " + data_file);
    line(con, " " + found.message);
    return run_end();
  }
  const Results results = compute_averages(comp, matched);

  // Name and open the report.
  // A composition read from a file is saved again only in the rare case
  // below, which the name's check does not foresee.
  const Result<std::string> named = ask_report_name(con, from_file ? from_file->name : std::string(), !from_file);
  if (!named.ok()) return named.error();
  const std::string& report = *named;
  const std::string report_file = report + ".talvo";
  auto file = open_new_file(con.out, kReportUnit, report_file, kRecordLength, files);
  if (!file) return run_end();
  line(con, " Output is written to file " + report_file);
  std::vector<const NuclearEntry*> isotopes;
  for (const auto& element : matched) isotopes.insert(isotopes.end(), element.begin(), element.end());
  file->write(report_head_lines(data_file, isotopes).text);

  // The block goes to the report and to the screen a piece at a time, never
  // held whole; the disk starts on the report every few pieces, while the
  // screen and the rest are written.
  struct Outputs {
    NewFile& report;
    std::ostream& screen;
    std::size_t unsent = 0;  // report bytes the disk was not yet asked for
  } outputs{*file, con.out};
  TextLines block;
  block.context = &outputs;
  block.sink = [](void* context, std::string_view piece) {
    Outputs& o = *static_cast<Outputs*>(context);
    o.report.write(piece);
    o.unsent += piece.size();
    if (o.unsent >= 4 * TextLines::kPiece) {
      (void)o.report.start_writeback();
      o.unsent = 0;
    }
    o.screen << piece;
  };
  results_lines(comp, results, block);
  block.finish();
  // Another run may be replacing a report and sample of the same name: the
  // two files go into place together, from the report's commit to the
  // sample's, so the pair left behind is always one run's.
  // (Where the folder cannot be locked, the run goes on without the lock.)
  const auto pair_lock = FolderLock::take(report_file);
  if (!file->commit()) {
    pr_int(con.out, "Error writing data to iunit = ", kReportUnit);
    return run_end();
  }
  line(con, "");
  line(con, " Output is written to file " + report_file);

  // A composition read from a file is not saved again, unless the report
  // goes beside that very file and another run has put its own sample there
  // since: saved again, the pair left behind is this run's.
  bool save_sample = !from_file;
  if (from_file && report + ".sample" == from_file->file) {
    const auto now = FileIdentity::of(from_file->file);
    save_sample = now && !(from_file->identity && *now == *from_file->identity);
  }
  if (save_sample) {
    const std::string sample_file = report + ".sample";
    line(con, " Saving sample information to file " + sample_file);
    const Status s = write_sample(sample_file, "talvo", data_file, comp, kSampleUnit, con.out, files);
    if (!s.ok()) {
      line(con, " " + s.message);
      return kFailureStatus;
    }
  }
  return 0;
}

}  // namespace

int run_talvo(Console& con, const DataFolder& data, const NewFileOptions& files) {
  const Result<int> status = run(con, data, files);
  if (status.ok()) return *status;
  // The console's errors are said here; any other ending is on the screen already.
  if (status.kind() == ErrorKind::kOutOfRange) {
    line(con, "");
    line(con,
         " A reply is longer than " + free_int(static_cast<long long>(kMaxReplyLine)) + " characters: TALVO stops");
  } else if (status.kind() == ErrorKind::kNotFound) {
    line(con, "");
    line(con, " Input ended before the question was answered: TALVO stops");
  }
  con.out.flush();
  return kFailureStatus;
}

}  // namespace talvo
