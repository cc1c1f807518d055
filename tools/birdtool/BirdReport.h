// birdtool info / verify / dump: what a bird file holds and whether the
// updater would load it.
#pragma once

#include <string>

namespace birdtool {

// Prints the header, block table, checksum, information fields and whether
// the file loads. Returns the exit status: for `strict` (verify) 0 only when
// the file is good in every respect, else 0 when it loads.
int Report(const std::string& path, bool strict, bool verbose);

// Hex dump of every block (or of the blocks of one type). Exit status.
int Dump(const std::string& path, int onlyType, bool verbose);

}  // namespace birdtool
