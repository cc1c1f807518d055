// One answer of the update server: the URL that was fetched, the HTTP status
// and the body as it arrived.
#pragma once

#include <cstddef>
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
  // Makes room for a body of `total` bytes, announced before it arrives, so
  // that a large answer is not copied again at every growth step.
  void expect(size_t total);
  // Moves the body out (the response keeps an empty one).
  std::string take_response();

 private:
  std::string request;
  long status = 0;  // 0 until a transfer completed
  std::string response;
};
