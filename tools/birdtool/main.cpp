// birdtool: inspects, verifies, dumps and writes bird files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "BirdPack.h"
#include "BirdReport.h"
#include "store/ReplaceFile.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: birdtool [-v] info FILE            header, blocks, information fields, whether it loads\n"
          "       birdtool [-v] verify FILE          the same; exits 1 unless the file is good\n"
          "       birdtool [-v] dump FILE [TYPE]     hex dump of the blocks (of one type number)\n"
          "       birdtool pack DESCRIPTION.json OUT.bird\n"
          "  -v  show the bird file reader's log on standard error\n");
  return 2;
}

int pack(const std::string& description, const std::string& out) {
  try {
    const std::vector<uint8_t> file = birdtool::PackDescription(description);
    const aErr error = ReplaceFile(out, file.data(), file.size());
    if (error != aErrNone) {
      fprintf(stderr, "birdtool: cannot write %s (error %u)\n", out.c_str(), error);
      return 1;
    }
    printf("Wrote %s (%zu bytes)\n", out.c_str(), file.size());
    return 0;
  } catch (const std::runtime_error& error) {
    fprintf(stderr, "birdtool: %s\n", error.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool verbose = false;
  if (!args.empty() && args[0] == "-v") {
    verbose = true;
    args.erase(args.begin());
  }
  if (args.empty()) return usage();
  const std::string& command = args[0];
  if ((command == "info" || command == "verify") && args.size() == 2)
    return birdtool::Report(args[1], command == "verify", verbose);
  if (command == "dump" && (args.size() == 2 || args.size() == 3)) {
    int type = -1;
    if (args.size() == 3) {
      char* end = nullptr;
      const long value = strtol(args[2].c_str(), &end, 0);
      if (*end != '\0' || value < 0 || value > 31) return usage();
      type = static_cast<int>(value);
    }
    return birdtool::Dump(args[1], type, verbose);
  }
  if (command == "pack" && args.size() == 3) return pack(args[1], args[2]);
  return usage();
}
