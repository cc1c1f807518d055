#include "server/HTTPResponse.h"

HTTPResponse::HTTPResponse(const char* url) : request(url != nullptr ? url : "") {}

void HTTPResponse::process(const char* bytes, unsigned long count) {
  if (bytes != nullptr && count > 0) response.append(bytes, count);
}
