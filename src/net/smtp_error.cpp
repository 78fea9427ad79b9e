// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/smtp_error.h"

namespace tarvix {

const std::vector<std::pair<int, std::string_view>>& SmtpErrorTable() {
  static const std::vector<std::pair<int, std::string_view>> kTable = {
      {0, ""},
      {100, "Unable to initialise winsock2."},
      {101, "Wrong version of the winsock2."},
      {102, "Function send() failed."},
      {103, "Function recv() failed."},
      {104, "Function connect failed."},
      {105, "Functions gethostbyname() or gethostbyaddr() failed."},
      {106, "Invalid winsock2 socket."},
      {107, "Function hostname() failed."},
      {108, "Improper IPv4 address."},
      {200, "Undefined message header."},
      {201, "Undefined from is the mail."},
      {202, "Undefined message subject."},
      {203, "Undefined at least one reciepent."},
      {204, "Undefined user login."},
      {205, "Undefined user password."},
      {206, "Undefined recipent mail."},
      {300, "Server returned error after sending MAIL FROM."},
      {301, "Server returned error after sending EHLO."},
      {302, "Server returned error after sending AUTH LOGIN."},
      {303, "Server returned error after sending DATA."},
      {304, "Server returned error after sending QUIT."},
      {305, "Server returned error after sending RCPT TO."},
      {306, "Error in message body"},
      {400, "Server has closed the connection."},
      {401, "Server is not ready."},
      {402, "File not exist."},
      {403, "Message is too big."},
      {404, "Bad login or password."},
      {405, "Undefined xyz SMTP response."},
      {406, "Lack of memory."},
      {407, "Server offers no encryption: login not sent."},
  };
  return kTable;
}

std::string_view SmtpErrorText(int code) {
  for (const auto& [c, text] : SmtpErrorTable())
    if (c == code) return text;
  return "Undefined error id.";
}

}  // namespace tarvix
