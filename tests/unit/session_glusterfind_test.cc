// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The glusterfind command lines, their quoting and the raw statuses, against
// a real shell and the fake tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "scanner/glusterfind/commands.h"
#include "scanner/glusterfind/shell_quote.h"
#include "unit/fake_tool.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;

// Sends this process's standard output and error to a file for its life.
class std_streams_capture {
 public:
  explicit std_streams_capture(const std::string& path) {
    fflush(stdout);
    fflush(stderr);
    saved_out_ = dup(1);
    saved_err_ = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
  }
  ~std_streams_capture() {
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out_, 1);
    dup2(saved_err_, 2);
    close(saved_out_);
    close(saved_err_);
  }

 private:
  int saved_out_;
  int saved_err_;
};

// Each of the five commands, run on a session; `out` is the pass's output file.
struct command {
  const char* name;
  std::function<int(session&, const std::string& out)> run;
};
const command kCommands[] = {
    {"create", [](session& s, const std::string&) { return s.create_session(); }},
    {"exists", [](session& s, const std::string&) { return s.session_exists(); }},
    {"incremental", [](session& s, const std::string& out) { return s.incremental_scan(out); }},
    {"full", [](session& s, const std::string& out) { return s.full_scan(out); }},
    {"post", [](session& s, const std::string&) { return s.post_scan(); }},
};

TEST(GlusterfindLinesTest, PlainValuesGiveTheToolsLinesExactly) {
  const std::string s = "s1", v = "gv-0", o = "/var/tmp/out_1/full-s1";
  EXPECT_EQ(create_session_line(s, v), "glusterfind create s1 gv-0 > /dev/null 2>&1");
  EXPECT_EQ(session_exists_line(s, v),
            "glusterfind list --session s1 --volume gv-0 > /dev/null 2>&1");
  EXPECT_EQ(pre_line(s, v, o, false),
            "glusterfind pre s1 gv-0 /var/tmp/out_1/full-s1 --regenerate-outfile --no-encode"
            " --disable-partial > /dev/null 2>&1");
  EXPECT_EQ(pre_line(s, v, o, true),
            "glusterfind pre s1 gv-0 /var/tmp/out_1/full-s1 --full --regenerate-outfile"
            " --no-encode --disable-partial > /dev/null 2>&1");
  EXPECT_EQ(post_line(s, v), "glusterfind post s1 gv-0 > /dev/null 2>&1");
  // Every character of the plain set stays bare.
  EXPECT_EQ(post_line("aZ9._-/:@+=,", v), "glusterfind post aZ9._-/:@+=, gv-0 > /dev/null 2>&1");
}

// What the shell makes of each line: the scripts, not the in-process fake.
class GlusterfindCommandTest : public ::testing::Test {
 protected:
  temp_dir work_;
  fake_glusterfind tool_{fake_glusterfind::mode::through_shell};
};

TEST_F(GlusterfindCommandTest, TheToolReceivesTheArgumentsOfEachCommand) {
  session s("s1", "vol1", work_.path("out"), "/mnt/vol1");
  const std::string out = work_.path("out") + "/full-s1";
  for (const command& c : kCommands) EXPECT_EQ(c.run(s, out), 0) << c.name;

  using args = std::vector<std::string>;
  EXPECT_EQ(tool_.argv(),
            (std::vector<args>{
                {"create", "s1", "vol1"},
                {"list", "--session", "s1", "--volume", "vol1"},
                {"pre", "s1", "vol1", out, "--regenerate-outfile", "--no-encode", "--disable-partial"},
                {"pre", "s1", "vol1", out, "--full", "--regenerate-outfile", "--no-encode", "--disable-partial"},
                {"post", "s1", "vol1"},
            }));
}

TEST_F(GlusterfindCommandTest, AnyValueReachesTheToolAsOneArgumentAndRunsNothing) {
  const std::string marker = work_.path("owned");
  const std::string nasty[] = {
      "x; touch " + marker,
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "x | touch " + marker,
      "x && touch " + marker,
      "x\ntouch " + marker,
      "it's; touch " + marker,
      "'; touch " + marker + "; '",
      "a > " + marker,
      "*",
      "~",
      "$HOME",
      "with blank",
      "",
      "-\t-",
  };
  for (const std::string& value : nasty) {
    SCOPED_TRACE(value);
    fake_glusterfind tool(fake_glusterfind::mode::through_shell);
    tool.set_status(1);  // records the call and writes nothing
    session s(value, value, work_.path("out"), "/mnt/vol1");
    for (const command& c : kCommands) c.run(s, value);
    std::vector<std::vector<std::string>> calls = tool.argv();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"create", value, value}));
    EXPECT_EQ(calls[1], (std::vector<std::string>{"list", "--session", value, "--volume", value}));
    EXPECT_EQ(calls[3], (std::vector<std::string>{"pre", value, value, value, "--full",
                                                  "--regenerate-outfile", "--no-encode", "--disable-partial"}));
    EXPECT_EQ(calls[4], (std::vector<std::string>{"post", value, value}));
    EXPECT_FALSE(exists(marker));
  }
}

// The in-process fake splits a line as the shell does: every value, quoted,
// comes back as one word, and a redirection ends the words.
TEST(ShellWordsTest, SplitsAsTheShellDoes) {
  using words = std::vector<std::string>;
  for (const std::string value : {"plain", "with blank", "it's; x", "'; rm -rf x; '", "a\\b",
                                  "$(x) `y` *", "", "-\t-", "x\ny"}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(testing_util::shell_words("glusterfind create " + shell_quote(value) + " v" +
                                        " > /dev/null 2>&1"),
              (words{"glusterfind", "create", value, "v"}));
  }
  EXPECT_EQ(testing_util::shell_words("gluster volume info v 2>/dev/null"),
            (words{"gluster", "volume", "info", "v"}));
}

TEST_F(GlusterfindCommandTest, OutputDirectoryWithABlankIsOneArgument) {
  tool_.add_session("s1", "vol1");
  tool_.set_changelist("NEW a\n");
  session s("s1", "vol1", work_.path("my out"), "/mnt/vol1");
  const std::string out = work_.path("my out") + "/full-s1";
  EXPECT_EQ(s.full_scan(out), 0);
  EXPECT_EQ(tool_.argv().at(0).at(3), out);
  EXPECT_EQ(read_file(out), "NEW a\n");
}

TEST_F(GlusterfindCommandTest, ValueWithANulByteRunsNothing) {
  session s(std::string("s1\0; touch x", 12), "vol1", work_.path("out"), "/mnt/vol1");
  for (const command& c : kCommands) EXPECT_NE(c.run(s, "o"), 0) << c.name;
  EXPECT_TRUE(tool_.calls().empty());
}

TEST_F(GlusterfindCommandTest, StatusesAreRawAndTheToolIsNeverHeard) {
  session s("s1", "vol1", work_.path("out"), "/mnt/vol1");
  const std::string out = work_.path("out") + "/full-s1";
  const std::string heard = work_.path("heard");
  struct row {
    int exit_code;
    int status;
  };
  for (row r : {row{0, 0}, row{1, 256}, row{2, 512}}) {
    tool_.set_status(r.exit_code);
    std_streams_capture capture(heard);
    for (const command& c : kCommands) {
      EXPECT_EQ(c.run(s, out), r.status) << c.name << " exiting with " << r.exit_code;
    }
  }
  EXPECT_EQ(tool_.calls().size(), 15u);  // the fake ran and printed every time
  EXPECT_EQ(read_file(heard), "");
}

TEST_F(GlusterfindCommandTest, MissingToolFailsEveryCommandQuietly) {
  temp_dir empty;
  scoped_env path("PATH", empty.path());
  session s("s1", "vol1", work_.path("out"), "/mnt/vol1");
  const std::string heard = work_.path("heard");
  {
    std_streams_capture capture(heard);
    for (const command& c : kCommands) EXPECT_NE(c.run(s, work_.path("o")), 0) << c.name;
  }
  EXPECT_EQ(read_file(heard), "");
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
