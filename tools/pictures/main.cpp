// Writes the program's pictures into the folder given as the only argument.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "pictures/pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: pictures OUTPUT_FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  for (const clip::pictures::Asset& asset : clip::pictures::all_pictures()) {
    const std::string path = folder + "/" + asset.file_name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(asset.bytes.data()), static_cast<std::streamsize>(asset.bytes.size()));
    out.close();
    if (!out) {
      std::cerr << "pictures: cannot write " << path << "\n";
      return 1;
    }
    std::cout << path << " (" << asset.bytes.size() << " bytes)\n";
  }
  return 0;
}
