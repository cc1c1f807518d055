// One answer of the update server: the URL that was fetched, the HTTP status
// and the body as it arrived.
#pragma once

#include <string>

class HTTPResponse {
 public:
  explicit HTTPResponse(const char* request);

  const char* get_request() const { return request.c_str(); }
  long get_status() const { return status; }
  void set_status(long value) { status = value; }
  const char* get_response() const { return response.c_str(); }
  const std::string& body() const { return response; }
  // Appends `count` bytes to the body, in arrival order.
  void process(const char* bytes, unsigned long count);

 private:
  std::string request;
  long status = 0;  // 0 until a transfer completed
  std::string response;
};
