// SPDX-License-Identifier: GPL-3.0-or-later
// The fetch routine of the update check: one HTTP GET (libcurl), its status checked
// against the accepted status classes, and the message a refused fetch shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "net/net_job.h"

namespace tarvix {

// Status classes the fetch may accept (flags, combined with |).
namespace status_class {
inline constexpr unsigned k2xx = 1;
inline constexpr unsigned k3xx = 2;
inline constexpr unsigned k4xx = 4;
inline constexpr unsigned k5xx = 8;
}  // namespace status_class

[[nodiscard]] bool StatusAccepted(unsigned status, unsigned class_flags);
// The text of a status that is not accepted, "%u" filled with it ("请求地址不存在:#404").
[[nodiscard]] std::string HttpStatusText(unsigned status);

// A session error's text is cut to this many bytes.
inline constexpr std::size_t kSessionErrorTextLimit = 100;

struct FetchRequest {
  std::string url;
  std::string agent;
  unsigned class_flags = status_class::k2xx;
  std::size_t max_bytes = 0;  // the transfer stops once this many bytes are in; 0: all
};

struct FetchResult {
  bool ok = false;
  bool cancelled = false;
  unsigned status = 0;   // HTTP status; 0 when none was had
  std::string document;  // the bytes read (at most max_bytes)
  // When not ok and not cancelled: the fetch routine's own box (the session error or
  // the status text), shown with the application's title, OK and no icon.
  std::string box_text;
};

[[nodiscard]] FetchResult FetchDocument(const FetchRequest& request, ExchangeControl& control);

}  // namespace tarvix
