// Plain HTTP GET of the update server's query script over libcurl.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "server/HTTPResponse.h"

class HTTPRequest {
 public:
  // The largest answer accepted: a bird file of the biggest modules travels
  // base64-encoded in one answer and stays well below this. A server that
  // sends more is cut off, so it cannot exhaust the tool's memory.
  static constexpr size_t kMaxResponseBytes = 64u * 1024u * 1024u;
  // A server that does not accept the connection within this time is down.
  static constexpr long kConnectTimeoutSeconds = 15;
  // A transfer that moves no byte for this long has stalled and is aborted.
  static constexpr long kStallTimeoutSeconds = 60;
  // libcurl's receive buffer.
  static constexpr long kReceiveBufferBytes = 256 * 1024;

  // The URL followed by "?" and "name=value&" for every parameter, in the
  // byte order of the names; values go in as they are (no escaping).
  static std::string BuildURL(const char* url, const std::map<std::string, std::string>& params);

  // Fetches the URL with the parameters. Throws std::runtime_error with
  // libcurl's text when the transfer fails, and "Could not create curl
  // instance" when libcurl cannot give a handle.
  static HTTPResponse GET(const char* url, std::map<std::string, std::string>& params);
};

// libcurl's write callback: appends the chunk to the HTTPResponse.
size_t _rcv_data(void* bytes, size_t size, size_t count, void* response);
