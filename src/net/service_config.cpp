// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/service_config.h"

namespace tarvix {

namespace {
// The account values are slices of longer stored texts so they do not sit in the
// binary as plain strings.
constexpr char kLoginStore[] = "k7Qwtarvixfb3ZpL0m";     // 18 characters; 5th to 10th
constexpr char kPasswordStore[] = "x9LdWm4Rk2Te5Hq8Nv";  // 18 characters; 5th to 11th
constexpr char kPasswordSuffix[] = "#Fb8w2Qa";           // 8 characters
static_assert(sizeof kLoginStore == 19 && sizeof kPasswordStore == 19 &&
              sizeof kPasswordSuffix == 9);
}  // namespace

std::string MailLogin() {
  return std::string(kLoginStore + 4, 6) + "@" + kMailDomain;
}

std::string MailPassword() {
  return std::string(kPasswordStore + 4, 7) + kPasswordSuffix;
}

UpdateCheckConfig UpdateCheckConfig::Default() {
  UpdateCheckConfig c;
  c.url = std::string(kUpdateServer) + kVersionDocumentPath;
  c.link_url = kMakerWebSite;
  return c;
}

FeedbackConfig FeedbackConfig::Default() {
  FeedbackConfig c;
  c.server = kMailServer;
  c.login = MailLogin();
  c.password = MailPassword();
  c.support_address = kSupportAddress;
  return c;
}

}  // namespace tarvix
