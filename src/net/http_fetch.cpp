// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/http_fetch.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace tarvix {

namespace {

std::string Filled(const char* format, unsigned status) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, status);
  return buffer;
}

// Cut at a character boundary so a multi-byte character is never split.
std::string Truncated(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

// libcurl is loaded on the first fetch rather than at every start of the programs: its
// chain of libraries cost more than all the rest of a command-line run's start.
struct Curl {
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_strerror) easy_strerror = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  std::string why;  // why it could not be loaded; empty once loaded
};

template <typename F>
void Resolve(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(::dlsym(library, name));
}

const Curl& TheCurl() {
  static const Curl curl = [] {
    Curl c;
    constexpr char kLibrary[] = "libcurl.so.4";
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* error = ::dlerror();
      c.why = std::string("the HTTP library ") + kLibrary + " cannot be loaded" +
              (error != nullptr ? std::string(": ") + error : std::string());
      return c;
    }
    decltype(&curl_global_init) global_init = nullptr;
    Resolve(library, "curl_global_init", global_init);
    Resolve(library, "curl_easy_init", c.easy_init);
    Resolve(library, "curl_easy_setopt", c.easy_setopt);
    Resolve(library, "curl_easy_perform", c.easy_perform);
    Resolve(library, "curl_easy_getinfo", c.easy_getinfo);
    Resolve(library, "curl_easy_strerror", c.easy_strerror);
    Resolve(library, "curl_easy_cleanup", c.easy_cleanup);
    if (global_init == nullptr || c.easy_init == nullptr || c.easy_setopt == nullptr ||
        c.easy_perform == nullptr || c.easy_getinfo == nullptr || c.easy_strerror == nullptr ||
        c.easy_cleanup == nullptr) {
      c.why = std::string("the HTTP library ") + kLibrary + " lacks a function it should have";
      return c;
    }
    global_init(CURL_GLOBAL_DEFAULT);
    return c;
  }();
  return curl;
}

// A loopback address never goes through a proxy, whatever the environment says.
std::string NoProxyList() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* v = std::getenv(name); v != nullptr && *v != '\0') {
      list = std::string(v) + "," + list;
      break;
    }
  }
  return list;
}

struct Transfer {
  ExchangeControl* control;
  std::string* document;
  std::size_t max_bytes;
  bool stopped_full = false;  // we ended the transfer ourselves: enough bytes are in
};

std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  std::size_t take = n;
  if (t->max_bytes != 0) take = std::min(n, t->max_bytes - t->document->size());
  t->document->append(data, take);
  if (t->max_bytes != 0 && t->document->size() >= t->max_bytes) {
    t->stopped_full = true;
    return take == n ? CURL_WRITEFUNC_ERROR : take;  // a short count ends the transfer
  }
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->control->Cancelled() ? 1 : 0;
}

struct CurlDeleter {
  void operator()(CURL* c) const { TheCurl().easy_cleanup(c); }
};

}  // namespace

bool StatusAccepted(unsigned status, unsigned class_flags) {
  if (status >= 200 && status <= 299) return (class_flags & status_class::k2xx) != 0;
  if (status >= 300 && status <= 399) return (class_flags & status_class::k3xx) != 0;
  if (status >= 400 && status <= 499) return (class_flags & status_class::k4xx) != 0;
  if (status >= 500 && status <= 599) return (class_flags & status_class::k5xx) != 0;
  return false;
}

std::string HttpStatusText(unsigned status) {
  if (status < 200 || status >= 600) return Filled("未知错误:#%u", status);
  if (status <= 299) return Filled("获取成功:#%u", status);
  if (status <= 399) return Filled("信息代码:#%u", status);
  if (status == 400) return Filled("请求无法解析:#%u", status);
  if (status == 404) return Filled("请求地址不存在:#%u", status);
  if (status == 405) return Filled("服务器不支持:#%u", status);
  if (status <= 499) return Filled("请求错误:#%u", status);
  if (status == 500) return Filled("未知服务器错误:#%u", status);
  if (status == 503) return Filled("服务器容量不足:#%u", status);
  return Filled("服务器错误:#%u", status);
}

FetchResult FetchDocument(const FetchRequest& request, ExchangeControl& control) {
  const Curl& lib = TheCurl();
  FetchResult result;
  if (!lib.why.empty()) {
    result.box_text = Truncated(lib.why, kSessionErrorTextLimit);
    return result;
  }
  std::unique_ptr<CURL, CurlDeleter> curl(lib.easy_init());
  if (!curl) {
    result.box_text = "out of memory";
    return result;
  }
  CURL* c = curl.get();
  char error_text[CURL_ERROR_SIZE] = {};
  Transfer transfer{&control, &result.document, request.max_bytes};
  const std::string no_proxy = NoProxyList();
  const long timeout_ms = std::max<long>(1, static_cast<long>(control.Remaining().count()));

  lib.easy_setopt(c, CURLOPT_URL, request.url.c_str());
  lib.easy_setopt(c, CURLOPT_USERAGENT, request.agent.c_str());
  lib.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  lib.easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  lib.easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  lib.easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  lib.easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
  lib.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // no signals on a worker thread
  lib.easy_setopt(c, CURLOPT_TIMEOUT_MS, timeout_ms);
  lib.easy_setopt(c, CURLOPT_ERRORBUFFER, error_text);
  lib.easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
  lib.easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  lib.easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  lib.easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  lib.easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);

  control.Step("connecting to " + request.url);
  const CURLcode rc = lib.easy_perform(c);
  if (rc == CURLE_ABORTED_BY_CALLBACK || (rc != CURLE_OK && control.Cancelled())) {
    result.cancelled = true;
    return result;
  }
  if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && transfer.stopped_full)) {
    result.box_text = Truncated(error_text[0] != '\0' ? error_text : lib.easy_strerror(rc),
                                kSessionErrorTextLimit);
    return result;
  }
  long status = 0;
  if (lib.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 0)
    status = 0;  // a failed status query counts as 0
  result.status = static_cast<unsigned>(status);
  if (!StatusAccepted(result.status, request.class_flags)) {
    result.box_text = HttpStatusText(result.status);
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace tarvix
