// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/feedback.h"

#include "net/smtp_error.h"

namespace tarvix {

namespace {
const std::string& OrNull(const std::string& text) {
  static const std::string kNull = kEmptyField;
  return text.empty() ? kNull : text;
}
}  // namespace

std::string FeedbackNote(const FeedbackConfig& config) {
  return "Your feedback is mailed to " + config.support_address +
         ".\r\nYou may also write to that address directly.";
}

std::optional<NetMessage> CheckFeedbackForm(const FeedbackForm& form) {
  if (form.problem.empty()) return NetMessage{kNoProblemText, "info", BoxIcon::kInformation};
  return std::nullopt;
}

std::string FeedbackSubject(const FeedbackForm& form) {
  return kFeedbackSubjectPrefix + OrNull(form.theme);
}

std::string FeedbackBody(const FeedbackForm& form) {
  return kFeedbackBodyStart + form.problem + kFeedbackContactSeparator + OrNull(form.contact);
}

FeedbackResult SendFeedback(const FeedbackForm& form, const FeedbackConfig& config,
                            ExchangeControl& control, SmtpClient::WallClock clock) {
  FeedbackResult result;
  if (std::optional<NetMessage> refusal = CheckFeedbackForm(form)) {
    result.box = std::move(*refusal);
    return result;
  }
  SmtpClient client;
  if (client.LastError() != smtp_error::kNone) {
    result.error_code = client.LastError();
    result.box = {kSendFailedText, "error", BoxIcon::kInformation};
    return result;
  }
  client.SetServer(config.server, config.port);
  client.SetLogin(config.login);
  client.SetPassword(config.password);
  client.SetSenderName(kFeedbackSenderName);
  client.SetSenderAddress(config.login);
  client.SetReplyTo(config.login);
  client.SetSubject(FeedbackSubject(form));
  (void)client.AddRecipient(config.support_address, "");
  client.SetPriority(mail_priority::kNormal);
  client.SetMailer(config.mailer);
  client.SetBody(FeedbackBody(form));
  client.SetTrustedCertificates(config.ca_file);
  client.AllowPlainLogin(config.allow_plain_login);
  if (clock) client.SetClock(std::move(clock));

  result.sent = client.Send(control);
  result.error_code = client.LastError();
  result.detail = client.Detail();
  result.secure = client.WasSecure();
  if (!result.sent && control.Cancelled()) {
    result.cancelled = true;
  } else if (result.sent) {
    result.box = {kSendSucceedText, "info", BoxIcon::kInformation};
  } else {
    result.box = {kSorryPrefix + std::string(client.LastErrorText()), "error", BoxIcon::kWarning};
  }
  return result;
}

bool FeedbackSend::Start(FeedbackForm form) {
  if (std::optional<NetMessage> refusal = CheckFeedbackForm(form)) {
    if (Running()) return false;
    FeedbackResult result;
    result.box = std::move(*refusal);
    Finish(std::move(result));
    return true;
  }
  return Launch(
      [config = config_, clock = clock_, form = std::move(form)](ExchangeControl& control) {
        return SendFeedback(form, config, control, clock);
      },
      config_.timeout);
}

}  // namespace tarvix
