// SPDX-License-Identifier: GPL-3.0-or-later
// Runs tests/net/smtp_server.py (a real SMTP server, aiosmtpd) with Debian's Python
// for one test, and reads back the mails it took.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvix::testing {

struct ReceivedMail {
  std::string mail_from;
  std::vector<std::string> rcpt_tos;
  std::string content;  // the message as the server stored it (dots un-stuffed)
  std::string ehlo;
  bool tls = false;
  bool authenticated = false;
};

class AiosmtpdServer {
 public:
  // `certificate` and `key` empty: a plain server without STARTTLS. With
  // `starttls_last` its EHLO reply names STARTTLS on its last line.
  AiosmtpdServer(const std::filesystem::path& folder, const std::string& user,
                 const std::string& password, const std::filesystem::path& certificate = {},
                 const std::filesystem::path& key = {}, bool starttls_last = false)
      : port_file_(folder / "smtp.port"), out_(folder / "mails") {
    std::filesystem::create_directories(out_);
    std::vector<std::string> args = {"/usr/bin/python3",
                                     std::string(TARVIX_SOURCE_DIR) + "/tests/net/smtp_server.py",
                                     "--port-file",
                                     port_file_.string(),
                                     "--out",
                                     out_.string(),
                                     "--user",
                                     user,
                                     "--password",
                                     password};
    if (!certificate.empty()) {
      args.insert(args.end(), {"--cert", certificate.string(), "--key", key.string()});
    }
    if (starttls_last) args.push_back("--starttls-last");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(port_file_);
      if (in >> port_ && port_ != 0) break;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {  // it ended: no server
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~AiosmtpdServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  AiosmtpdServer(const AiosmtpdServer&) = delete;
  AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

  [[nodiscard]] bool Running() const { return pid_ > 0 && port_ != 0; }
  [[nodiscard]] std::uint16_t Port() const { return static_cast<std::uint16_t>(port_); }
  [[nodiscard]] std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

  // The mails taken so far, oldest first.
  [[nodiscard]] std::vector<ReceivedMail> Mails() const {
    std::vector<ReceivedMail> mails;
    for (int n = 0;; ++n) {
      std::ifstream meta(out_ / (std::to_string(n) + ".meta"));
      if (!meta) break;
      ReceivedMail m;
      for (std::string line; std::getline(meta, line);) {
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "mail_from") m.mail_from = value;
        if (key == "ehlo") m.ehlo = value;
        if (key == "tls") m.tls = value == "1";
        if (key == "authenticated") m.authenticated = value == "1";
        if (key == "rcpt") m.rcpt_tos.push_back(value);
      }
      std::ifstream eml(out_ / (std::to_string(n) + ".eml"), std::ios::binary);
      m.content.assign(std::istreambuf_iterator<char>(eml), {});
      mails.push_back(std::move(m));
    }
    return mails;
  }

 private:
  std::filesystem::path port_file_, out_;
  pid_t pid_ = -1;
  unsigned port_ = 0;
};

}  // namespace tarvix::testing
