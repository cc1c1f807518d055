#include "server/HTTPResponse.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr uintptr_t kHugePage = 2u * 1024u * 1024u;

// A bird file's answer fills megabytes of fresh memory, one page fault per
// 4 KiB page; huge pages, where the kernel grants them on request, take that
// to a few faults per answer.
void _prefer_huge_pages(char* start, size_t size) {
  const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(start) + size) & ~(kHugePage - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace

HTTPResponse::HTTPResponse(const char* url) : request(url != nullptr ? url : "") {}

void HTTPResponse::process(const char* bytes, unsigned long count) {
  if (bytes != nullptr && count > 0) response.append(bytes, count);
}

void HTTPResponse::expect(size_t total) {
  if (total <= response.capacity()) return;
  response.reserve(total);
  if (total >= 2 * kHugePage) _prefer_huge_pages(response.data(), response.capacity());
}

std::string HTTPResponse::take_response() { return std::move(response); }
