// The update server's answers, read from a firmware directory (layout in
// README.md). Knows nothing of HTTP: one query's parameters in, one status and
// body out, so every answer is decided in one place.
#pragma once

#include <map>
#include <string>

#include "VersionCache.h"

struct MirrorAnswer {
  int status;
  std::string body;
};

class Mirror {
 public:
  explicit Mirror(std::string root);

  // `params` are the query's parameters, decoded, each given once.
  MirrorAnswer Answer(const std::multimap<std::string, std::string>& params) const;

 private:
  std::string root;
  mutable VersionCache versions;
};
