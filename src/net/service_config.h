// SPDX-License-Identifier: GPL-3.0-or-later
// Where the network services go: the maker's update server and web site, the mail
// provider and the program's mail account, and the support address. Every fixed
// value lives here; the front ends take the defaults and tests inject their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvix {

// The application's name: the agent string of the fetch and the title of its boxes.
inline constexpr char kApplicationName[] = "VRNT_Tarvix";

// Longest a whole exchange may take before it is given up.
inline constexpr std::chrono::milliseconds kNetTimeout{30000};

inline constexpr char kUpdateServer[] = "http://update.tarvix.example";
inline constexpr char kVersionDocumentPath[] = "/updata/VRNT_Tarvix_CV_Info.pdf";
inline constexpr char kMakerWebSite[] = "http://www.tarvix.example/";

inline constexpr char kMailServer[] = "smtp.mailhost.example";
inline constexpr std::uint16_t kMailPort = 25;
inline constexpr char kMailDomain[] = "mailhost.example";
inline constexpr char kSupportAddress[] = "support@tarvix.example";
inline constexpr char kMailerName[] = "TarvixMail 1.0";

struct UpdateCheckConfig {
  std::string url;       // the version document
  std::string link_url;  // the hyperlink of the "Version" dialog
  std::string agent = kApplicationName;
  std::chrono::milliseconds timeout = kNetTimeout;

  [[nodiscard]] static UpdateCheckConfig Default();
};

struct FeedbackConfig {
  std::string server;
  std::uint16_t port = kMailPort;
  std::string login;  // also the envelope sender, the From and the Reply-To address
  std::string password;
  std::string support_address;
  std::string mailer = kMailerName;
  // Certificates trusted for STARTTLS (a PEM file); empty: the system's store.
  std::string ca_file;
  // The login may go out in the clear to a server without STARTTLS (a test server).
  bool allow_plain_login = false;
  std::chrono::milliseconds timeout = kNetTimeout;

  [[nodiscard]] static FeedbackConfig Default();
};

// The account's login name and password, built from their stored texts at run time.
[[nodiscard]] std::string MailLogin();
[[nodiscard]] std::string MailPassword();

}  // namespace tarvix
