#include "talvo/files/files.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

// What read_line came to: a line, the end, a line too long or a failed stream.
enum class LineRead { kLine, kEnd, kTooLong, kError };
LineRead line_read(std::istream& in, std::string& text, std::size_t limit = kMaxLineLength) {
  const Result<bool> got = read_line(in, text, limit);
  if (got.ok()) return *got ? LineRead::kLine : LineRead::kEnd;
  return got.kind() == ErrorKind::kOutOfRange ? LineRead::kTooLong : LineRead::kError;
}

std::string content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The names in a folder, sorted.
std::vector<std::string> listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

// Sets the umask for one scope.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : old_(umask(mask)) {}
  ~UmaskGuard() { umask(old_); }

 private:
  mode_t old_;
};

// Writes under a hidden name, as on a file system without unnamed files.
const NewFileOptions kNamed{nullptr, true};

// A NewFile that must be made.
NewFile made(const std::string& name, const NewFileOptions& options = {}) {
  Result<NewFile> f = NewFile::create(name, options);
  if (!f.ok()) throw std::runtime_error(f.error().message);
  return std::move(*f);
}

TEST(NewFile, UncommittedFileLeavesNothingAndKeepsThePreviousOne) {
  TempDir dir;
  const std::string name = dir.write("report.talvo", "previous\n");
  {
    NewFile f = made(name, kNamed);
    ASSERT_TRUE(f.good());
    f.write("half a report");
    ASSERT_TRUE(f.start_writeback());
    // Written beside the final name, hidden, under a name of its own.
    EXPECT_EQ(fs::path(f.temp_name()).parent_path(), dir.path());
    EXPECT_EQ(fs::path(f.temp_name()).filename().string().rfind(".report.talvo.", 0), 0u);
    EXPECT_EQ(content(f.temp_name()), "half a report");
    EXPECT_EQ(listing(dir).size(), 2u);
  }
  EXPECT_EQ(content(name), "previous\n");
  EXPECT_EQ(listing(dir), std::vector<std::string>{"report.talvo"});

  // A file moved into another, which was being written, drops that one's temporary file.
  std::optional<NewFile> first = made(name, kNamed);
  NewFile second = made(dir.file("other"), kNamed);
  const std::string dropped = second.temp_name();
  second = std::move(*first);
  EXPECT_FALSE(fs::exists(dropped));
  second.write("new\n");
  EXPECT_TRUE(second.commit().ok());
  EXPECT_EQ(content(name), "new\n");
  EXPECT_EQ(listing(dir), std::vector<std::string>{"report.talvo"});
  EXPECT_TRUE(second.temp_name().empty());
}

TEST(NewFile, UnnamedFileIsInvisibleUntilCommitted) {
  TempDir dir;
  const std::string name = dir.write("report.talvo", "previous\n");
  {
    NewFile f = made(name);
    ASSERT_TRUE(f.good());
    if (!f.unnamed()) GTEST_SKIP() << "no unnamed files (O_TMPFILE) in " << dir.path();
    EXPECT_TRUE(f.temp_name().empty());
    f.write(std::string(200000, 'x'));
    EXPECT_TRUE(f.start_writeback());
    EXPECT_EQ(listing(dir), std::vector<std::string>{"report.talvo"});
  }
  EXPECT_EQ(content(name), "previous\n");
  EXPECT_EQ(listing(dir), std::vector<std::string>{"report.talvo"});

  // Replacing a file and making a new one; both leave only the final names.
  for (const char* target : {"report.talvo", "report.sample"}) {
    NewFile f = made(dir.file(target));
    ASSERT_TRUE(f.unnamed());
    f.write(std::string("new ") + target + "\n");
    EXPECT_TRUE(f.commit().ok());
    EXPECT_FALSE(f.good());
    EXPECT_EQ(content(dir.file(target)), std::string("new ") + target + "\n");
  }
  EXPECT_EQ(listing(dir), (std::vector<std::string>{"report.sample", "report.talvo"}));
}

TEST(NewFile, FailuresRemoveTheTemporaryFile) {
  for (const NewFileOptions& options : {NewFileOptions{}, kNamed}) {
    TempDir dir;
    // A folder takes the final name while the file is written: the rename
    // fails, with the system's reason, and the folder stays.
    NewFile f = made(dir.file("taken"), options);
    ASSERT_TRUE(f.good());
    f.write("x\n");
    fs::create_directory(dir.file("taken"));
    const Outcome committed = f.commit();
    ASSERT_FALSE(committed.ok());
    EXPECT_EQ(committed.kind(), ErrorKind::kIoError);
    EXPECT_EQ(committed.error().message.rfind("cannot write " + dir.file("taken") + ": ", 0), 0u)
        << committed.error().message;
    EXPECT_EQ(listing(dir), std::vector<std::string>{"taken"});
    EXPECT_TRUE(fs::is_directory(dir.file("taken")));

    // A name that is a folder already is refused at once, before anything is
    // written, and one in a folder that does not exist says so.
    struct Refused {
      std::string name;
      ErrorKind kind;
      std::string message;
    } refused[] = {
        {dir.file("taken"), ErrorKind::kInvalidArgument, "cannot create " + dir.file("taken") + ": Is a directory"},
        {dir.file("no/such/file"), ErrorKind::kNotFound,
         "cannot create " + dir.file("no/such/file") + ": No such file or directory"},
        {dir.file(std::string(300, 'n')), ErrorKind::kInvalidArgument,
         "cannot create " + dir.file(std::string(300, 'n')) + ": File name too long"},
    };
    for (const Refused& r : refused) {
      const Result<NewFile> missing = NewFile::create(r.name, options);
      ASSERT_FALSE(missing.ok()) << r.name;
      EXPECT_EQ(missing.kind(), r.kind) << r.name;
      EXPECT_EQ(missing.error().message, r.message);
    }
    EXPECT_EQ(listing(dir), std::vector<std::string>{"taken"});
  }
}

// Runs `write` in a child process that is then killed with SIGKILL while
// what it made is alive, as a writer that has no chance to clean up.
template <typename Write>
void killed_writer(Write write) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    write();
    (void)!::write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  close(ready[0]);
  close(ready[1]);
}

TEST(NewFile, KilledWritersLeaveNothingTheNextWriterCannotRemove) {
  TempDir dir;
  const std::string name = dir.write("r.talvo", "previous\n");
  // The writers' files stay open until the kill: never destroyed in the child.
  const auto half_written = [&](const NewFileOptions& options) {
    return [&name, options] {
      auto* f = new NewFile(made(name, options));
      f->write("half\n");
      (void)f->start_writeback();
    };
  };
  // A killed writer of an unnamed file leaves nothing at all.
  killed_writer(half_written({}));
  EXPECT_EQ(listing(dir), std::vector<std::string>{"r.talvo"});

  // A killed writer of a named temporary file leaves it behind, and the
  // next writer of that name removes it.
  killed_writer(half_written(kNamed));
  const std::vector<std::string> first = listing(dir);
  ASSERT_EQ(first.size(), 2u);
  killed_writer(half_written(kNamed));
  const std::vector<std::string> second = listing(dir);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_NE(first, second);
  // The same beside names that only look like a temporary file's.
  const std::vector<std::string> others = {".r.talvo.abc",    ".r.talvo.ABCDEFG", ".r.talvo.ABC-EF",
                                           ".q.talvo.ABCDEF", "r.talvo.ABCDEF",   ".r.talvo.ABCDEF.x"};
  for (const std::string& other : others) dir.write(other, "not a temporary file\n");
  ASSERT_EQ(listing(dir).size(), 2 + others.size());

  // A live writer's file is never taken for abandoned, in this process or another.
  NewFile live = made(name, kNamed);
  ASSERT_TRUE(live.good());
  std::vector<std::string> expected = others;
  expected.push_back("r.talvo");
  expected.push_back(fs::path(live.temp_name()).filename().string());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listing(dir), expected);
  EXPECT_EQ(*remove_abandoned_temporaries(name), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const Result<int> removed = remove_abandoned_temporaries(name);
    _exit(removed.ok() ? *removed : 100);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(listing(dir), expected);
  live.write("new\n");
  EXPECT_TRUE(live.commit().ok());
  EXPECT_EQ(content(name), "new\n");

  // A leftover that is a folder or a link is not a temporary file of ours.
  fs::create_directory(dir.file(".r.talvo.FOLDER"));
  fs::create_symlink(name, dir.file(".r.talvo.LINKED"));
  EXPECT_EQ(*remove_abandoned_temporaries(name), 0);
  EXPECT_TRUE(fs::is_directory(dir.file(".r.talvo.FOLDER")));
  EXPECT_TRUE(fs::is_symlink(dir.file(".r.talvo.LINKED")));
  EXPECT_EQ(content(name), "new\n");

  // A folder that cannot be read is the caller's to know about.
  const Result<int> missing = remove_abandoned_temporaries(dir.file("no/such/file"));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(missing.error().message, "cannot read folder " + dir.file("no/such") + ": No such file or directory");
}

TEST(FolderLock, SecondHolderWaitsForTheFirst) {
  TempDir dir;
  int go[2], got[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(got), 0);
  // The child starts before the lock is taken: a lock belongs to the open
  // folder, which a child forked later would share.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c = 0;
    if (read(go[0], &c, 1) != 1) _exit(1);
    const Result<FolderLock> mine = FolderLock::take(dir.file("other.sample"));  // the same folder
    (void)!write(got[1], mine.ok() ? "y" : "n", 1);
    _exit(0);
  }
  std::optional<Result<FolderLock>> held = FolderLock::take(dir.file("pair.talvo"));
  ASSERT_TRUE(held->ok());
  ASSERT_EQ(write(go[1], "g", 1), 1);
  pollfd wait_for{got[0], POLLIN, 0};
  EXPECT_EQ(poll(&wait_for, 1, 300), 0) << "the second lock was had while the first was held";
  held.reset();
  char c = 0;
  EXPECT_EQ(read(got[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (int fd : {go[0], go[1], got[0], got[1]}) close(fd);
  // A folder that cannot be opened: no lock, and the caller may go on.
  const Result<FolderLock> missing = FolderLock::take(dir.file("no/such/file"));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.kind(), ErrorKind::kNotFound);
}

// Files committed together: all in place or none, killed sets finished by the next writer, racing sets never mixed.
TEST(CommitTogether, AllOrNoneAndTheReasonOfAFailure) {
  for (const NewFileOptions& options : {NewFileOptions{}, kNamed}) {
    TempDir dir;
    const std::vector<std::string> names = {dir.write("p.iq", "old iq\n"), dir.write("p.sq", "old sq\n"),
                                            dir.file("p.gr")};
    std::vector<NewFile> set;
    for (const std::string& n : names) {
      set.push_back(made(n, options));
      set.back().write("new " + fs::path(n).extension().string() + "\n");
    }
    ASSERT_TRUE(commit_together(set).ok());
    for (const std::string& n : names) EXPECT_EQ(content(n), "new " + fs::path(n).extension().string() + "\n");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"p.gr", "p.iq", "p.sq"}));

    // A file that cannot be written whole (past the file-size limit): none is replaced, and the reason is told.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{4096, 4096};
      setrlimit(RLIMIT_FSIZE, &limit);
      std::vector<NewFile> again;
      for (const std::string& n : names) again.push_back(made(n, options));
      again[0].write("newer\n");
      again[1].write(std::string(10000, 'x'));
      again[2].write("newer\n");
      const Outcome o = commit_together(again);
      _exit(!o.ok() && o.error().message == "cannot write " + names[1] + ": File too large" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const std::string& n : names) EXPECT_EQ(content(n), "new " + fs::path(n).extension().string() + "\n");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"p.gr", "p.iq", "p.sq"}));
  }
}

// What a set killed between two renames leaves, made by hand: its files under hidden names and its list.
// A name of the longest length a folder takes (255 bytes, in ASCII or in
// three-byte characters) is written, alone or in a set, named or unnamed,
// and leaves only itself: its hidden name holds what of it fits.
TEST(CommitTogether, NamesOfTheLongestLegalLength) {
  const std::string cjk = "\xe6\xbc\xa2";  // one character, three bytes
  std::string three;
  while (three.size() + cjk.size() <= 255) three += cjk;
  for (const std::string& base : {std::string(255, 'a'), std::string(248, 'b'), three}) {
    for (const NewFileOptions& options : {NewFileOptions{}, kNamed}) {
      TempDir dir;
      {
        NewFile one = made(dir.file(base), options);
        one.write("one\n");
        if (!one.temp_name().empty()) {
          EXPECT_LE(fs::path(one.temp_name()).filename().string().size(), 255u);
          EXPECT_EQ(fs::path(one.temp_name()).filename().string().rfind("." + base.substr(0, 200), 0), 0u);
        }
        ASSERT_TRUE(one.commit().ok()) << base.size();
      }
      std::vector<NewFile> set;
      for (const std::string& n : {base, base.substr(0, 250) + "x"}) {
        set.push_back(made(dir.file(n), options));
        set.back().write("set\n");
      }
      const Outcome o = commit_together(set);
      ASSERT_TRUE(o.ok()) << o.error().message;
      EXPECT_EQ(content(dir.file(base)), "set\n");
      EXPECT_EQ(listing(dir).size(), 2u) << base.size();
    }
  }
}

TEST(CommitTogether, AKilledSetIsFinishedBeforeAnythingElse) {
  const auto killed_set = [](const TempDir& dir) {
    dir.write("p.iq", "new iq\n");  // renamed before the kill
    dir.write("p.sq", "old sq\n");
    dir.write("p.gr", "old gr\n");
    dir.write(".p.sq.Ab12Cd", "new sq\n");
    dir.write(".p.gr.Ef34Gh", "new gr\n");
    using namespace std::string_literals;
    dir.write(".talvo-set.Xy56Zw.list",
              "talvo file set 1\n"s + ".p.iq.Ij78Kl\0p.iq\0.p.sq.Ab12Cd\0p.sq\0.p.gr.Ef34Gh\0p.gr\0"s);
  };
  const std::vector<std::string> after = {"other", "p.gr", "p.iq", "p.sq"};
  {
    // The next file written in the folder finishes it first.
    TempDir dir;
    killed_set(dir);
    NewFile other = made(dir.file("p.sq"));
    other.write("newest sq\n");
    ASSERT_TRUE(other.commit().ok());
    dir.write("other", "");
    EXPECT_EQ(listing(dir), after);
    EXPECT_EQ(content(dir.file("p.gr")), "new gr\n");
    EXPECT_EQ(content(dir.file("p.sq")), "newest sq\n");
  }
  {
    // While the folder is held (by this process, as the calculator holds it for its pair), no clean-up removes
    // what the list names, though no writer holds those files.
    TempDir dir;
    killed_set(dir);
    {
      const Result<FolderLock> held = FolderLock::take(dir.file("p.sq"));
      ASSERT_TRUE(held.ok());
      EXPECT_EQ(*remove_abandoned_temporaries(dir.file("p.sq")), 0);
      EXPECT_EQ(content(dir.file(".p.sq.Ab12Cd")), "new sq\n");
    }
    // The next set in the folder finishes it, then puts its own in place.
    std::vector<NewFile> set;
    for (const char* n : {"q.iq", "q.sq"}) {
      set.push_back(made(dir.file(n)));
      set.back().write("q\n");
    }
    ASSERT_TRUE(commit_together(set).ok());
    dir.write("other", "");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"other", "p.gr", "p.iq", "p.sq", "q.iq", "q.sq"}));
    for (const char* n : {"p.iq", "p.sq", "p.gr"})
      EXPECT_EQ(content(dir.file(n)), "new " + std::string(n).substr(2) + "\n") << n;
  }
  {
    // A damaged list moves nothing but is removed; a list's names outside the folder are never followed.
    TempDir dir;
    dir.write("p.iq", "old\n");
    dir.write(".p.iq.Ab12Cd", "new\n");
    using namespace std::string_literals;
    dir.write(".talvo-set.Aa11Bb.list", "talvo file set 1\n"s + "../.p.iq.Ab12Cd\0p.iq\0"s);
    dir.write(".talvo-set.Cc22Dd.list", "talvo file set 1\n"s + ".p.iq.Ab12Cd\0p.iq"s);
    dir.write(".talvo-set.Ee33Ff.list", "something else\n"s + ".p.iq.Ab12Cd\0p.iq\0"s);
    std::vector<NewFile> set;
    for (const char* n : {"q.iq", "q.sq"}) set.push_back(made(dir.file(n)));
    ASSERT_TRUE(commit_together(set).ok());
    EXPECT_EQ(content(dir.file("p.iq")), "old\n");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{".p.iq.Ab12Cd", "p.iq", "q.iq", "q.sq"}));
  }
}

// A killed set's list of the second form, made by hand, is ended as its state says: prepared (no name changed:
// its hidden files go), committed (completed only onto the files it replaced), rolling back (the previous files
// put back where the set's new ones are).
TEST(CommitTogether, AKilledSetEndsAsItsListSays) {
  using namespace std::string_literals;
  // What a name holds, as a list records it.
  const auto mark = [](const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return "-"s;
    return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
           std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_mtim.tv_nsec);
  };
  // One entry: hidden name, final name, hidden link to the previous file, what the name held, the new file
  // (by default the one under the hidden name).
  const auto entry = [&](const TempDir& dir, const std::string& temp, const std::string& name,
                         const std::string& backup, const std::string& old_mark, std::string fresh = "") {
    if (fresh.empty()) fresh = mark(dir.file(temp));
    return temp + '\0' + name + '\0' + backup + '\0' + old_mark + '\0' + fresh + '\0';
  };
  {
    // Prepared: only its hidden files go, whichever names they have.
    TempDir dir;
    dir.write("p.iq", "old iq\n");
    dir.write(".p.iq.Ab12Cd", "new iq\n");
    ASSERT_EQ(link(dir.file("p.iq").c_str(), dir.file(".p.iq.Bk12Bk").c_str()), 0);
    const std::string list = "talvo file set 2\nP\n"s +
                             entry(dir, ".p.iq.Ab12Cd", "p.iq", ".p.iq.Bk12Bk", mark(dir.file("p.iq"))) +
                             entry(dir, ".p.sq.Ef34Gh", "p.sq", "", "-");  // its hidden file not made yet
    dir.write(".talvo-set.Pp11Pp.list", list);
    EXPECT_EQ(*remove_abandoned_temporaries(dir.file("other")), 0);
    EXPECT_EQ(listing(dir), std::vector<std::string>{"p.iq"});
    EXPECT_EQ(content(dir.file("p.iq")), "old iq\n");
  }
  {
    // Committed, killed after its first rename: the others are made where the names still hold the files
    // the set replaced. One written in place since and one put there since stay; the set's files for them go.
    TempDir dir;
    dir.write("p.iq", "new iq\n");
    for (const char* n : {"p.sq", "p.fq", "p.gr"}) dir.write(n, "old\n");
    for (const char* n : {".p.sq.Ab12Cd", ".p.fq.Cd34Ef", ".p.gr.Gh56Ij", ".p.rdf.Kl78Mn"}) dir.write(n, "new\n");
    std::string list = "talvo file set 2\nC\n"s + entry(dir, ".p.iq.Zz99Zz", "p.iq", "", "-", mark(dir.file("p.iq")));
    list += entry(dir, ".p.sq.Ab12Cd", "p.sq", "", mark(dir.file("p.sq")));
    list += entry(dir, ".p.fq.Cd34Ef", "p.fq", "", mark(dir.file("p.fq")));
    list += entry(dir, ".p.gr.Gh56Ij", "p.gr", "", mark(dir.file("p.gr")));
    list += entry(dir, ".p.rdf.Kl78Mn", "p.rdf", "", "-");
    dir.write(".talvo-set.Cc11Cc.list", list);
    {
      std::ofstream in_place(dir.file("p.fq"), std::ios::binary | std::ios::app);
      in_place << "by hand\n";
    }
    dir.write("p.gr.new", "by hand\n");
    fs::rename(dir.file("p.gr.new"), dir.file("p.gr"));
    std::vector<NewFile> set;
    for (const char* n : {"q.iq", "q.sq"}) set.push_back(made(dir.file(n)));
    ASSERT_TRUE(commit_together(set).ok());
    EXPECT_EQ(content(dir.file("p.iq")), "new iq\n");
    EXPECT_EQ(content(dir.file("p.sq")), "new\n");
    EXPECT_EQ(content(dir.file("p.fq")), "old\nby hand\n");
    EXPECT_EQ(content(dir.file("p.gr")), "by hand\n");
    EXPECT_EQ(content(dir.file("p.rdf")), "new\n");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"p.fq", "p.gr", "p.iq", "p.rdf", "p.sq", "q.iq", "q.sq"}));
  }
  {
    // Rolling back: the files renamed are put back (a new name removed), those not renamed go.
    TempDir dir;
    dir.write("p.iq", "old iq\n");
    ASSERT_EQ(link(dir.file("p.iq").c_str(), dir.file(".p.iq.Bk12Bk").c_str()), 0);
    const std::string old_iq = mark(dir.file("p.iq"));
    dir.write("p.iq.new", "new iq\n");
    fs::rename(dir.file("p.iq.new"), dir.file("p.iq"));  // renamed before the kill
    dir.write("p.gr", "new gr\n");                       // a new name, renamed before the kill
    dir.write("p.sq", "old sq\n");
    ASSERT_EQ(link(dir.file("p.sq").c_str(), dir.file(".p.sq.Bk34Bk").c_str()), 0);
    dir.write(".p.sq.Ab12Cd", "new sq\n");
    std::string list =
        "talvo file set 2\nR\n"s + entry(dir, ".p.iq.Zz99Zz", "p.iq", ".p.iq.Bk12Bk", old_iq, mark(dir.file("p.iq")));
    list += entry(dir, ".p.gr.Yy88Yy", "p.gr", "", "-", mark(dir.file("p.gr")));
    list += entry(dir, ".p.sq.Ab12Cd", "p.sq", ".p.sq.Bk34Bk", mark(dir.file("p.sq")));
    dir.write(".talvo-set.Rr11Rr.list", list);
    EXPECT_EQ(*remove_abandoned_temporaries(dir.file("other")), 0);
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"p.iq", "p.sq"}));
    EXPECT_EQ(content(dir.file("p.iq")), "old iq\n");
    EXPECT_EQ(content(dir.file("p.sq")), "old sq\n");
  }
}

TEST(CommitTogether, RacingSetsLeaveOneWritersSet) {
  TempDir dir;
  const std::vector<std::string> names = {dir.file("r.iq"), dir.file("r.sq"), dir.file("r.fq"), dir.file("r.gr")};
  std::vector<pid_t> children;
  for (char writer : {'a', 'b', 'c'}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int round = 0; round < 40; ++round) {
        std::vector<NewFile> set;
        for (const std::string& n : names) {
          Result<NewFile> f = NewFile::create(n);
          if (!f.ok()) _exit(1);
          f->write(std::string(static_cast<std::size_t>(1 + round % 7), writer));
          set.push_back(std::move(*f));
        }
        if (!commit_together(set).ok()) _exit(2);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  // While they race, every look at the four files finds one writer's round.
  int mixed = 0, looks = 0;
  const auto settled = [&] {
    for (const pid_t c : children) {
      int status = 0;
      if (waitpid(c, &status, WNOHANG) == 0) return false;
    }
    return true;
  };
  for (bool done = false; !done;) {
    done = settled();
    const Result<FolderLock> held = FolderLock::take(names[0]);  // a reader that waits for a set being put in place
    std::string first = content(names[0]);
    for (const std::string& n : names) mixed += content(n) != first;
    ++looks;
  }
  for (const pid_t c : children) {
    int status = 0;
    waitpid(c, &status, 0);
  }
  EXPECT_EQ(mixed, 0) << looks << " looks";
  EXPECT_EQ(listing(dir), (std::vector<std::string>{"r.fq", "r.gr", "r.iq", "r.sq"}));
}

TEST(NewFile, PermissionBits) {
  struct Case {
    mode_t umask;
    int previous;  // -1: no previous file
    unsigned expected;
  } cases[] = {
      {022, 0600, 0600},                     // a rewritten private file stays private
      {022, 0640, 0640}, {077, 0664, 0664},  // the previous bits win over the umask
      {022, -1, 0644},   {002, -1, 0664},   {077, -1, 0600}, {0, -1, 0666},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const UmaskGuard mask(c.umask);
    const std::string name = dir.file("s.sample");
    if (c.previous >= 0) {
      dir.write("s.sample", "old\n");
      ASSERT_EQ(chmod(name.c_str(), static_cast<mode_t>(c.previous)), 0);
    }
    NewFile f = made(name, kNamed);
    ASSERT_TRUE(f.good());
    // The temporary file has its bits from the start, not only once in place.
    EXPECT_EQ(mode_of(f.temp_name()), c.expected) << std::oct << c.umask << ' ' << c.previous;
    f.write("new\n");
    ASSERT_TRUE(f.commit().ok());
    EXPECT_EQ(mode_of(name), c.expected) << std::oct << c.umask << ' ' << c.previous;
    // The same for a file written without a name.
    NewFile unnamed = made(name);
    ASSERT_TRUE(unnamed.good());
    unnamed.write("newer\n");
    ASSERT_TRUE(unnamed.commit().ok());
    EXPECT_EQ(mode_of(name), c.expected) << std::oct << c.umask << ' ' << c.previous;
    // Reading the umask does not change it.
    EXPECT_EQ(current_umask(), std::optional<unsigned>(c.umask));
    EXPECT_EQ(umask(c.umask), c.umask);
  }
}

TEST(PendingFiles, RemovesTheFilesBeingWritten) {
  TempDir dir;
  const std::string name = dir.write("r.talvo", "previous\n");
  PendingFiles pending;
  {
    NewFile a = made(name, {&pending, true});
    NewFile b = made(dir.file("r.sample"), {&pending, true});
    ASSERT_TRUE(a.good() && b.good());
    EXPECT_EQ(pending.count(), 2u);
    a.write("half");
    ASSERT_TRUE(a.start_writeback());
    pending.remove_all();
    EXPECT_FALSE(fs::exists(a.temp_name()));
    EXPECT_FALSE(fs::exists(b.temp_name()));
    // A file removed under its writer cannot be committed; the previous one stays.
    EXPECT_FALSE(a.commit().ok());
    EXPECT_EQ(content(name), "previous\n");
  }
  EXPECT_EQ(pending.count(), 0u);
  EXPECT_EQ(listing(dir), std::vector<std::string>{"r.talvo"});

  // Committed and dropped files free their slots; more files than slots are still written.
  std::vector<NewFile> many;
  for (std::size_t i = 0; i < PendingFiles::kSlots + 2; ++i)
    many.push_back(made(dir.file("f" + std::to_string(i)), {&pending, true}));
  EXPECT_EQ(pending.count(), PendingFiles::kSlots);
  for (NewFile& f : many) EXPECT_TRUE(f.commit().ok());
  EXPECT_EQ(pending.count(), 0u);
  EXPECT_EQ(listing(dir).size(), PendingFiles::kSlots + 3);
  pending.remove_all();  // nothing pending: the committed files stay
  EXPECT_EQ(listing(dir).size(), PendingFiles::kSlots + 3);
}

PendingFiles* handler_files = nullptr;
extern "C" void remove_and_stop(int sig) {
  handler_files->remove_all();
  signal(sig, SIG_DFL);
  raise(sig);
}

TEST(PendingFiles, SignalHandlerLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string name = dir.write("big.talvo", "previous\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PendingFiles pending;
    handler_files = &pending;
    signal(SIGTERM, remove_and_stop);
    NewFile f = made(name, {&pending, true});
    for (int i = 0; i < 100000; ++i) f.write("a line of a big report\n");
    raise(SIGTERM);
    _exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(listing(dir), std::vector<std::string>{"big.talvo"});
  EXPECT_EQ(content(name), "previous\n");
}

TEST(CheckRegularFile, OnlyRegularFilesPass) {
  TempDir dir;
  const std::string file = dir.write("data.dat", "1\n");
  fs::create_directory(dir.file("folder"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  fs::create_symlink(file, dir.file("link"));
  fs::create_symlink(dir.file("gone"), dir.file("dangling"));
  const std::string escaped = dir.file("\x1b[2J");  // a name that would clear the screen
  ASSERT_EQ(mkfifo(escaped.c_str(), 0600), 0);
  struct Case {
    std::string name;
    std::optional<ErrorKind> kind;  // nothing: readable
    std::string message;
  } cases[] = {
      {file, std::nullopt, ""},
      {dir.file("link"), std::nullopt, ""},
      {dir.file("missing"), ErrorKind::kNotFound, "cannot open " + dir.file("missing") + ": No such file or directory"},
      {dir.file("dangling"), ErrorKind::kNotFound,
       "cannot open " + dir.file("dangling") + ": No such file or directory"},
      {dir.file("data.dat/x"), ErrorKind::kNotFound, "cannot open " + dir.file("data.dat/x") + ": Not a directory"},
      {"", ErrorKind::kNotFound, "no file name given"},
      {dir.file("folder"), ErrorKind::kInvalidArgument, dir.file("folder") + " is a folder, not a regular file"},
      {dir.file("fifo"), ErrorKind::kInvalidArgument, dir.file("fifo") + " is a FIFO, not a regular file"},
      {"/dev/zero", ErrorKind::kInvalidArgument, "/dev/zero is a character device, not a regular file"},
      {escaped, ErrorKind::kInvalidArgument, dir.file("\\x1b[2J") + " is a FIFO, not a regular file"},
  };
  for (const Case& c : cases) {
    const Outcome s = check_regular_file(c.name);
    EXPECT_EQ(s.ok(), !c.kind) << c.name;
    if (s.ok() || !c.kind) continue;
    EXPECT_EQ(s.kind(), *c.kind) << c.name;
    EXPECT_EQ(s.error().message, c.message);
    // The opening readers refuse the same files with the same words, and a
    // FIFO without a writer does not hang them.
    const Result<InputFile> opened = InputFile::open(c.name);
    ASSERT_FALSE(opened.ok()) << c.name;
    EXPECT_EQ(opened.kind(), *c.kind) << c.name;
    EXPECT_EQ(opened.error().message, c.message);
    const Result<std::string> whole = read_whole_file(c.name);
    ASSERT_FALSE(whole.ok()) << c.name;
    EXPECT_EQ(whole.error().message, c.message);
    const Result<FileContent> content = FileContent::open(c.name);
    ASSERT_FALSE(content.ok()) << c.name;
    EXPECT_EQ(content.kind(), *c.kind);
    EXPECT_EQ(content.error().message, c.message);
    const Result<RecordCounts> counted = count_records(c.name);
    ASSERT_FALSE(counted.ok()) << c.name;
    EXPECT_EQ(counted.error().message, c.message);
  }
  Result<InputFile> in = InputFile::open(file);
  ASSERT_TRUE(in.ok());
  std::string text;
  EXPECT_EQ(line_read(in->stream(), text), LineRead::kLine);
  EXPECT_EQ(text, "1");
  EXPECT_EQ(line_read(in->stream(), text), LineRead::kEnd);
  EXPECT_EQ(InputFile::open(dir.file("missing")).kind(), ErrorKind::kNotFound);
}

TEST(ReadLine, LineEndsAndTheLengthLimit) {
  struct Case {
    std::string text;
    std::size_t limit;
    std::vector<std::string> lines;  // what is read until the end or "<too long>"
    std::string left;                // what is still unread then
  } cases[] = {
      {"a\nbc", 4, {"a", "bc"}, ""},
      {"a\r\nbc\r\n", 4, {"a", "bc"}, ""},
      {"\n\n", 4, {"", ""}, ""},
      {"", 4, {}, ""},
      {"abcd\nabcd\r\nabcd\r", 4, {"abcd", "abcd", "abcd"}, ""},  // exactly the limit, with any line end
      {"abcde\nx\n", 4, {"<too long>"}, "x\n"},
      {"abcdefghij\n", 4, {"<too long>"}, "ghij\n"},     // stops after limit + 2 characters
      {"ok\nabcd\rx\n", 4, {"ok", "<too long>"}, "\n"},  // a CR inside a line counts
      {"abcde", 4, {"<too long>"}, ""},
      // Lines longer than the reader takes at a time.
      {std::string(511, 'a') + "\n" + std::string(512, 'b') + "\r\n" + std::string(1025, 'c'),
       1100,
       {std::string(511, 'a'), std::string(512, 'b'), std::string(1025, 'c')},
       ""},
      {std::string(1100, 'd') + "\r\nx\n", 1100, {std::string(1100, 'd'), "x"}, ""},
      {std::string(1101, 'e') + "\nx\n", 1100, {"<too long>"}, "x\n"},
      {std::string(1500, 'f') + "\n", 1100, {"<too long>"}, std::string(398, 'f') + "\n"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    std::vector<std::string> got;
    std::string text;
    for (;;) {
      const LineRead r = line_read(in, text, c.limit);
      if (r == LineRead::kEnd) break;
      if (r == LineRead::kTooLong) {
        got.push_back("<too long>");
        break;
      }
      ASSERT_EQ(r, LineRead::kLine);
      got.push_back(text);
    }
    EXPECT_EQ(got, c.lines) << c.text;
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rest, c.left) << c.text;
  }
}

// A stream whose reads fail after a few characters.
class FailingBuf : public std::streambuf {
 protected:
  int_type underflow() override {
    if (served_) throw std::runtime_error("read failed");
    served_ = true;
    setg(text_, text_, text_ + 4);
    return text_[0];
  }

 private:
  char text_[4] = {'a', '\n', 'b', 'c'};
  bool served_ = false;
};

TEST(ReadLine, ReadErrorIsReported) {
  FailingBuf buf;
  std::istream in(&buf);
  std::string text;
  EXPECT_EQ(line_read(in, text), LineRead::kLine);
  EXPECT_EQ(text, "a");
  EXPECT_EQ(line_read(in, text), LineRead::kError);
  EXPECT_TRUE(in.bad());
  EXPECT_EQ(line_read(in, text), LineRead::kError);
}

TEST(FileContent, WholeRegularFiles) {
  TempDir dir;
  std::string big(300000, 'x');
  big[123456] = '\n';
  for (const std::string& text : {std::string(), std::string("one line"), big}) {
    const std::string name = dir.write("f", text);
    const auto c = FileContent::open(name);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c->text(), text);
    const Result<std::string> whole = read_whole_file(name);
    ASSERT_TRUE(whole.ok());
    EXPECT_EQ(*whole, text);
  }
  const Result<RecordCounts> r = count_records(dir.file("f"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->records, 2);
  EXPECT_EQ(r->max_length, 300000 - 123457);
  // A file above the limit is refused before it is read.
  const Result<FileContent> big_one = FileContent::open(dir.file("f"), 299999);
  ASSERT_FALSE(big_one.ok());
  EXPECT_EQ(big_one.kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(big_one.error().message, dir.file("f") + " holds 300000 bytes, more than the 299999 that are read");
  EXPECT_TRUE(FileContent::open(dir.file("f"), 300000).ok());
}

TEST(RecordCounter, PiecesOfAnySizeGiveTheSameCounts) {
  const std::string text = "ab\r\n\ncdef\r\nxyz";  // CR-LF not counted; the last line needs no LF
  for (std::size_t piece : {1u, 2u, 3u, 100u}) {
    RecordCounter counter;
    for (std::size_t i = 0; i < text.size(); i += piece) counter.feed(std::string_view(text).substr(i, piece));
    const RecordCounts r = counter.finish();
    EXPECT_EQ(r.records, 4) << piece;
    EXPECT_EQ(r.max_length, 4) << piece;
  }
}

}  // namespace
}  // namespace talvo
