// Collects the diagnostic log of some packages while it lives.
#pragma once

#include <cstdio>
#include <string>

#include "app/Log.h"

class LogCapture {
 public:
  explicit LogCapture(uint32_t packages) : packages_(packages) {
    stream_ = open_memstream(&buffer_, &size_);
    Log::SetOutput(stream_);
    Log::ActivatePackage(packages_);
  }
  ~LogCapture() {
    Log::DeactivatePackage(packages_);
    Log::SetOutput(nullptr);
    fclose(stream_);
    free(buffer_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string text() {
    fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  uint32_t packages_;
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};
