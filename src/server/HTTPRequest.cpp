#include "server/HTTPRequest.h"

#include <curl/curl.h>

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "app/Log.h"

namespace {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

void _check(CURLcode code) {
  if (code != CURLE_OK) throw std::runtime_error(curl_easy_strerror(code));
}

// libcurl's header callback, one call per header line: the Content-Length
// line makes room in the response before the first body byte arrives, and a
// length beyond the limit ends the transfer at once.
size_t _rcv_header(char* bytes, size_t size, size_t count, void* response) {
  const size_t total = size * count;
  constexpr std::string_view kLength = "content-length:";
  if (total <= kLength.size() || strncasecmp(bytes, kLength.data(), kLength.size()) != 0) return total;
  const char* value = bytes + kLength.size();
  const char* end = bytes + total;
  while (value < end && (*value == ' ' || *value == '\t')) ++value;
  size_t length = 0;
  const auto [stop, error] = std::from_chars(value, end, length);
  if (error != std::errc() || stop == value) return total;  // not a number: let the transfer tell
  if (length > HTTPRequest::kMaxResponseBytes) return 0;
  static_cast<HTTPResponse*>(response)->expect(length);
  return total;
}

}  // namespace

size_t _rcv_data(void* bytes, size_t size, size_t count, void* response) {
  auto* answer = static_cast<HTTPResponse*>(response);
  const size_t total = size * count;
  const char* chunk = static_cast<const char*>(bytes);
  Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.*s]\n", static_cast<int>(size),
           static_cast<int>(count), static_cast<unsigned>(reinterpret_cast<uintptr_t>(answer)),
           static_cast<int>(std::min<size_t>(total, 100)), chunk);
  // Taking less than the whole chunk makes libcurl end the transfer with a
  // write error: an answer beyond the limit is refused, never held.
  const size_t taken = total <= HTTPRequest::kMaxResponseBytes - answer->body().size() ? total : 0;
  answer->process(chunk, taken);
  Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(taken));
  return taken;
}

std::string HTTPRequest::BuildURL(const char* url, const std::map<std::string, std::string>& params) {
  std::string full = url != nullptr ? url : "";
  if (params.empty()) return full;
  full += '?';
  for (const auto& [name, value] : params) {
    full += name;
    full += '=';
    full += value;
    full += '&';
  }
  return full;
}

HTTPResponse HTTPRequest::GET(const char* url, std::map<std::string, std::string>& params) {
  CurlHandle curl(curl_easy_init());
  const std::string full = BuildURL(url, params);
  HTTPResponse response(full.c_str());
  if (!curl) throw std::runtime_error("Could not create curl instance");

  CURL* handle = curl.get();
  _check(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &_rcv_data));
  _check(curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response));
  _check(curl_easy_setopt(handle, CURLOPT_URL, full.c_str()));
  _check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L));
  _check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L));
  _check(curl_easy_setopt(handle, CURLOPT_SSL_VERIFYSTATUS, 0L));
  // Every wait is bounded: a server that never accepts, or a transfer that
  // stops moving, ends with an error instead of hanging the tool.
  _check(curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds));
  _check(curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L));
  _check(curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kStallTimeoutSeconds));
  // The download runs on a worker thread; libcurl must not use signals there.
  _check(curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L));
  // A bird file arrives as one answer of several megabytes: room for it is
  // made once its length is announced, and it is read in large pieces.
  _check(curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &_rcv_header));
  _check(curl_easy_setopt(handle, CURLOPT_HEADERDATA, &response));
  _check(curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes));

  Log::log(DEBUG_ServerComm, "GET(%s)\n", full.c_str());
  _check(curl_easy_perform(handle));
  long status = 0;
  _check(curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status));
  response.set_status(status);
  return response;
}
