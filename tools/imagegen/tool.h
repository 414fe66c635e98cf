// The imagegen command, apart from main() so tests can run it whole.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace clip::imagegen {

// args without the program name; 0 written, 1 failed, 2 wrong usage.
int run_tool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace clip::imagegen
