// The report and the sample file a run writes: a file that cannot be written
// leaves the previous one and no temporary file, and a sample is saved only
// beside a complete report.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

#include "tests/support/dialogue.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

namespace fs = std::filesystem;

int run(const std::string& input, std::string& screen) { return test_support::run_dialogue(input, screen); }

std::string content(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RunFiles, AReportThatCannotBeWrittenSavesNoSample) {
  const test_support::TempDir dir;
  const std::string name = dir.file("iron");
  std::ofstream(name + ".talvo") << "old report\n";
  std::ofstream(name + ".sample") << "old sample\n";

  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 2000;  // room for the sample, not for the report
  setrlimit(RLIMIT_FSIZE, &small);
  std::string screen;
  const int status = run("1\n\n1\nFe 1\n7.874\n" + name + "\n", screen);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous_handler);

  EXPECT_EQ(status, 1);
  EXPECT_NE(screen.find("Error writing data to iunit = "), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Saving sample information"), std::string::npos) << screen;
  EXPECT_EQ(content(name + ".talvo"), "old report\n");
  EXPECT_EQ(content(name + ".sample"), "old sample\n");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"iron.sample", "iron.talvo"}));
}

// Output that runs `hook` once, when the text written so far first holds
// `trigger`: something another process does while the run goes on.
class HookedOutput : public std::stringbuf {
 public:
  HookedOutput(std::string trigger, std::function<void()> hook)
      : trigger_(std::move(trigger)), hook_(std::move(hook)) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const std::streamsize r = std::stringbuf::xsputn(s, n);
    if (hook_ && str().find(trigger_) != std::string::npos) std::exchange(hook_, nullptr)();
    return r;
  }

 private:
  std::string trigger_;
  std::function<void()> hook_;
};

TEST(RunFiles, ASampleThatCannotBePutInPlaceIsReportedAfterTheReport) {
  const test_support::TempDir dir;
  const std::string name = dir.file("iron");
  // A folder takes the sample's name after the name was accepted, once the
  // run says it saves the sample: a folder there from the start is refused
  // with the name (see tests/dialogue/report_names.sh).
  HookedOutput out(" Saving sample information", [&] { fs::create_directory(dir.path() / "iron.sample"); });
  std::ostream screen_stream(&out);
  std::istringstream in("1\n\n1\nFe 1\n7.874\n" + name + "\n");
  Console con{in, screen_stream};
  const int status = run_talvo(con, DataFolder::named(TALVO_TEST_DATA_DIR));
  const std::string screen = out.str();

  EXPECT_EQ(status, 1);
  const std::string tail = "\n Output is written to file " + name + ".talvo\n Saving sample information to file " +
                           name +
                           ".sample\n ** Error in open_new_file **\n I/O status = replace\n File name = " + name +
                           ".sample\n Unit number = 11\n Record length = 132\n Error number = 21\n" +
                           " Is a directory\n write_sample: Cannot create file " + name + ".sample\n";
  ASSERT_GE(screen.size(), tail.size());
  EXPECT_EQ(screen.substr(screen.size() - tail.size()), tail) << screen;
  EXPECT_NE(content(name + ".talvo").find(" AVERAGE VALUES PER ATOM..."), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir.path() / "iron.sample"));
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"iron.sample", "iron.talvo"}));
}

// Input that runs `hook` once, when the reading gets to `at`: something
// another process does while the run waits for a reply.
class HookedInput : public std::streambuf {
 public:
  HookedInput(std::string text, std::size_t at, std::function<void()> hook)
      : text_(std::move(text)), at_(at), hook_(std::move(hook)) {}

 protected:
  int_type underflow() override {
    if (pos_ >= text_.size()) return traits_type::eof();
    if (pos_ == at_ && hook_) std::exchange(hook_, nullptr)();
    const std::size_t end = pos_ < at_ ? at_ : text_.size();
    setg(text_.data() + pos_, text_.data() + pos_, text_.data() + end);
    pos_ = end;
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::string text_;
  std::size_t at_;
  std::function<void()> hook_;
  std::size_t pos_ = 0;
};

TEST(RunFiles, AReportBesideTheSampleItCameFromStaysPairedWithIt) {
  const test_support::TempDir dir;
  const std::string name = dir.file("alloy");
  std::string screen;
  ASSERT_EQ(run("1\n\n1\nFe 1\n7.874\n" + name + "\n", screen), 0) << screen;
  const std::string iron_sample = content(name + ".sample");

  // Read back: the sample stays as it is. Meanwhile another run of that name
  // saves nickel: the report of iron is then saved with its sample again.
  for (const bool other_run : {false, true}) {
    const std::string before_report = "-1\n" + name + "\n\n";
    HookedInput input(before_report + "\n", before_report.size(), [&] {
      if (!other_run) return;
      std::string other;
      EXPECT_EQ(run("1\n\n1\nNi 1\n8.908\n" + name + "\n", other), 0) << other;
      EXPECT_NE(content(name + ".sample").find("\nNi "), std::string::npos);
    });
    std::istream in(&input);
    std::ostringstream out;
    Console con{in, out};
    ASSERT_EQ(run_talvo(con, DataFolder::named(TALVO_TEST_DATA_DIR)), 0) << out.str();
    EXPECT_NE(content(name + ".talvo").find(" Fe="), std::string::npos);
    EXPECT_NE(content(name + ".sample").find("\nFe "), std::string::npos) << other_run;
    EXPECT_EQ(out.str().find("Saving sample information") != std::string::npos, other_run) << out.str();
    if (!other_run) {
      EXPECT_EQ(content(name + ".sample"), iron_sample);
    }
  }
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"alloy.sample", "alloy.talvo"}));
}

TEST(RunFiles, NamesAreKeptWholeUpToTwoHundredCharacters) {
  const test_support::TempDir dir;
  // Two names that differ only after their 80th character (folder included).
  const std::string stem = dir.file(std::string(99 - dir.path().string().size(), 'n'));
  ASSERT_EQ(stem.size(), 100u);
  std::string screen;
  ASSERT_EQ(run("1\n\n1\nFe 1\n7.874\n" + stem + "_iron\n", screen), 0) << screen;
  ASSERT_EQ(run("1\n\n1\nNi 1\n8.908\n" + stem + "_nickel.TALVO\n", screen), 0) << screen;
  EXPECT_NE(content(stem + "_iron.talvo").find(" Fe="), std::string::npos);
  EXPECT_NE(content(stem + "_iron.sample").find("\nFe "), std::string::npos);
  EXPECT_NE(content(stem + "_nickel.talvo").find(" Ni="), std::string::npos);
  EXPECT_NE(content(stem + "_nickel.sample").find("\nNi "), std::string::npos);
  EXPECT_EQ(names_in(dir.path()).size(), 4u);

  // A sample read back under its whole name offers that name for the report.
  ASSERT_EQ(run("-1\n" + stem + "_iron.sample\n\n\n", screen), 0) << screen;
  EXPECT_NE(screen.find(" Give name only for output .TALVO file (" + stem + "_iron) > "), std::string::npos);
  EXPECT_EQ(names_in(dir.path()).size(), 4u);

  // 200 characters are a name, 201 are asked again, as is a name holding a
  // control character (a NUL would end the file's name early).
  const std::string longest = dir.file(std::string(200 - dir.path().string().size() - 1, 'm'));
  ASSERT_EQ(longest.size(), 200u);
  const std::string nul("a\0b", 3);
  ASSERT_EQ(
      run("1\n\n1\nFe 1\n0\n" + longest + "x\n" + dir.file(nul) + "\n" + dir.file("tab\tx") + "\n" + longest + "\n",
          screen),
      0)
      << screen;
  const std::string asked = " Give name only for output .TALVO file > ";
  EXPECT_NE(
      screen.find(asked + " A name can have at most 200 characters\n" + asked +
                  " A name cannot hold control characters\n" + asked + " A name cannot hold control characters\n" +
                  asked + " Output is written to file " + longest + ".talvo\n"),
      std::string::npos)
      << screen;
  EXPECT_NE(content(longest + ".sample").find("\nFe "), std::string::npos);
  EXPECT_EQ(names_in(dir.path()).size(), 6u);

  // The .sample name is kept whole as well, and a longer one is asked again.
  ASSERT_EQ(run("-1\n" + longest + "x\n" + stem + "_nickel\n\n" + stem + "_again\n", screen), 0) << screen;
  EXPECT_NE(screen.find("file >  A name can have at most 200 characters\n"), std::string::npos) << screen;
  EXPECT_NE(content(stem + "_again.talvo").find(" Ni="), std::string::npos);
}

}  // namespace
}  // namespace talvo
