#include "server/HTTPResponse.h"

HTTPResponse::HTTPResponse(const char* url) : request(url != nullptr ? url : "") {}

void HTTPResponse::process(const char* bytes, unsigned long count) {
  if (bytes != nullptr && count > 0) response.append(bytes, count);
}

void HTTPResponse::expect(size_t total) {
  if (total > response.capacity()) response.reserve(total);
}

std::string HTTPResponse::take_response() { return std::move(response); }
