// SPDX-License-Identifier: GPL-3.0-or-later
// "Feedback": the user's theme, problem and contact mailed to the maker's support
// address through the program's mail account. The send runs off the window thread
// (FeedbackSend); the dialog shows the step while it works and the box at the end.
#pragma once

#include <optional>
#include <string>

#include "net/net_job.h"
#include "net/net_message.h"
#include "net/service_config.h"
#include "net/smtp_client.h"

namespace tarvix {

inline constexpr char kFeedbackDialogTitle[] = "Feedback";
inline constexpr char kThemeLabel[] = "Theme:";
inline constexpr char kProblemLabel[] = "Problem:";
inline constexpr char kContactLabel[] = "Contact:";
inline constexpr char kSendCaption[] = "Send";
inline constexpr char kCancelCaption[] = "Cancel";
inline constexpr char kFeedbackSenderName[] = "VRNT_Halcyrin 问题反馈";
inline constexpr char kFeedbackSubjectPrefix[] = "VRNT_Halcyrin 反馈主题:";
inline constexpr char kFeedbackBodyStart[] = "VRNT_Tarvix V2.x:\r\n";
inline constexpr char kFeedbackContactSeparator[] =
    "\r\n------------------联系方式-------------------\r\n";
// Stands in for a theme or contact left empty.
inline constexpr char kEmptyField[] = "null";
inline constexpr char kNoProblemText[] = "please input your problem!   ";
inline constexpr char kSendFailedText[] = "send failed.  ";
inline constexpr char kSendSucceedText[] = "send succeed!   ";
inline constexpr char kSorryPrefix[] = "sorry:";

struct FeedbackForm {
  std::string theme;
  std::string problem;
  std::string contact;
};

struct FeedbackResult {
  bool sent = false;
  bool cancelled = false;  // stopped by the user: no box
  int error_code = 0;      // the SMTP client's last error (smtp_error.h)
  NetMessage box;          // what the dialog shows at the end
  std::string detail;      // more on a failure (server reply, TLS trouble), for diagnostics
  bool secure = false;     // the mail went over TLS
};

// The two-line note under the fields.
[[nodiscard]] std::string FeedbackNote(const FeedbackConfig& config);

// The refusal of a form that must not be sent (an empty problem); nothing when it may.
[[nodiscard]] std::optional<NetMessage> CheckFeedbackForm(const FeedbackForm& form);

// The mail's subject and body for `form` ("null" for an empty theme or contact).
[[nodiscard]] std::string FeedbackSubject(const FeedbackForm& form);
[[nodiscard]] std::string FeedbackBody(const FeedbackForm& form);

// The Send button on the calling thread: check, fill the client, send.
[[nodiscard]] FeedbackResult SendFeedback(const FeedbackForm& form, const FeedbackConfig& config,
                                          ExchangeControl& control,
                                          SmtpClient::WallClock clock = {});

// The send as a window drives it.
class FeedbackSend : public NetJob<FeedbackResult> {
 public:
  explicit FeedbackSend(FeedbackConfig config) : config_(std::move(config)) {}

  // A form that must not be sent gets its refusal as the result at once; otherwise
  // the send starts. False while an earlier send still runs.
  bool Start(FeedbackForm form);
  // For tests: the Date header's clock.
  void SetClock(SmtpClient::WallClock clock) { clock_ = std::move(clock); }

 private:
  FeedbackConfig config_;
  SmtpClient::WallClock clock_;
};

}  // namespace tarvix
