// SPDX-License-Identifier: GPL-3.0-or-later
// Text from outside the program (server replies, file names) through the real binary:
// on a terminal it is shown escaped, and --json stays valid UTF-8 JSON.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "buffer/tools_test_support.h"
#include "cli/cli_runner.h"
#include "net/scripted_smtp_server.h"

namespace tarvix {
namespace {

using testing::RunCli;
using testing::ScratchDir;

// Runs tarvix-cli with stdin, stdout and stderr on a pseudo-terminal; all it printed.
std::string RunOnTerminal(std::vector<std::string> args, int& status) {
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv = {const_cast<char*>(TARVIX_CLI)};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(TARVIX_CLI, argv.data());
    ::_exit(127);
  }
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(terminal, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the program has ended
    }
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  ::close(terminal);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

TEST(CliOutsideText, ControlCharactersReachTheTerminalEscaped) {
  // A server reply that would clear the screen and set the window title.
  testing::ScriptedSmtpServer server;
  server.Reply(testing::SmtpStep::kPassword, "535 5.7.8 \x1b[2J\x1b]0;owned\x07 no\r\n");
  int status = -1;
  const std::string reply = RunOnTerminal(
      {"feedback", "--problem", "p", "--server", server.Address(), "--allow-plain-login"}, status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(reply.find("535 5.7.8 \\x1b[2J\\x1b]0;owned\\x07 no"), std::string::npos) << reply;

  // A file name, and bytes that are no UTF-8 (a lone C1 control among them).
  const std::string file = RunOnTerminal({"--database",
                                          "/nowhere/\x1b[31mred\x9b"
                                          "2J.dat",
                                          "chips"},
                                         status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(file.find("\\x1b[31mred\\x9b2J.dat"), std::string::npos) << file;

  for (const std::string& out : {reply, file}) {
    EXPECT_EQ(out.find_first_of("\x1b\x07\x9b"), std::string::npos) << out;
  }
}

TEST(CliOutsideText, JsonOfANameThatIsNoUtf8IsValidJson) {
  ScratchDir dir("cli json name");
  testing::WriteBytes(dir /
                          "\xff\xfe"
                          "bild.bin",
                      testing::Pattern(8));
  const auto r = RunCli({"--json", "split",
                         "\xff\xfe"
                         "bild.bin",
                         "4"},
                        dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // Python's strict decoder and JSON parser judge the output.
  const std::string json = (dir / "out.json").string();
  std::ofstream(json, std::ios::binary) << r.out;
  const std::string judge =
      "/usr/bin/python3 -c 'import json,sys; d = json.loads(open(sys.argv[1], \"rb\").read()"
      ".decode(\"utf-8\")); sys.exit(d[\"pieces\"][1] != \"\\ufffd\\ufffdbild_4-7.bin\")' '" +
      json + "'";
  EXPECT_EQ(std::system(judge.c_str()), 0) << r.out;
}

}  // namespace
}  // namespace tarvix
