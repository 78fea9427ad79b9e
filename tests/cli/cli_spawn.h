// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the real tarvix-cli binary in the background, so that a test can watch what
// it prints (or traces) while it runs and press Ctrl-C at a chosen moment.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace tarvix::testing {

class SpawnedCli {
 public:
  // Runs tarvix-cli `args` in `cwd`; stdout and stderr go to files there, stdin is
  // /dev/null.
  SpawnedCli(const std::filesystem::path& cwd, const std::vector<std::string>& args)
      : out_(cwd / "spawned.out"), err_(cwd / "spawned.err") {
    pid_ = ::fork();
    if (pid_ != 0) return;
    // A bulk run never ends by itself: it must not outlive a test run that was killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(null, 0);
    // As from a terminal: a test run in the background has SIGINT ignored, which the
    // program would keep ignoring.
    ::signal(SIGINT, SIG_DFL);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TARVIX_CLI));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TARVIX_CLI, argv.data());
    ::_exit(127);
  }
  ~SpawnedCli() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  SpawnedCli(const SpawnedCli&) = delete;
  SpawnedCli& operator=(const SpawnedCli&) = delete;

  [[nodiscard]] bool Started() const { return pid_ > 0; }
  [[nodiscard]] std::string Out() const { return Slurp(out_); }
  [[nodiscard]] std::string Err() const { return Slurp(err_); }

  // Waits until `file` holds `text` at least `times` times; false after a minute or
  // when the program has ended first.
  bool WaitFor(const std::filesystem::path& file, const std::string& text, int times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Count(Slurp(file), text) >= static_cast<std::size_t>(times)) return true;
      if (Ended()) return Count(Slurp(file), text) >= static_cast<std::size_t>(times);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  bool WaitForErr(const std::string& text, int times = 1) { return WaitFor(err_, text, times); }

  // Ctrl-C, unless the program has ended already (its pid may then be another's).
  void Interrupt() {
    if (!Ended()) ::kill(pid_, SIGINT);
  }

  // The exit status; -1 when it did not end by itself within a minute (then killed)
  // or ended by a signal.
  int Wait() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Ended() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      reaped_ = true;
      return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
  static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  bool Ended() {
    if (reaped_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }

  std::filesystem::path out_, err_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
};

}  // namespace tarvix::testing
