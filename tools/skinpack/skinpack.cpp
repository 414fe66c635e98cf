// skinpack: makes, lists and unpacks skin files (a 4-byte unpacked size and
// the compressed archive), the format the program loads its skin from.
//   skinpack pack OUT FILE...        entries in the order given, under their base names
//   skinpack list FILE               one line per entry: name, a tab, size in bytes
//   skinpack extract FILE NAME OUT   the first entry of that name (compared in lower case)
// Exit status: 0 done, 1 a file could not be read or written or was rejected, 2 bad usage.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "skin/data/archive.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

int usage() {
  std::cerr << "usage: skinpack pack OUT FILE...\n"
               "       skinpack list FILE\n"
               "       skinpack extract FILE NAME OUT\n";
  return 2;
}

int fail(const std::string& message) {
  std::cerr << "skinpack: " << message << "\n";
  return 1;
}

std::optional<Bytes> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

// Writes beside the target and renames, so a failed write leaves no half file.
bool write_file(const std::string& path, const Bytes& data) {
  const std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::string base_name(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int open_skin(const std::string& path, clip::skin::TSkinReader& reader) {
  const auto data = read_file(path);
  if (!data) return fail("cannot read " + path);
  const auto status = reader.OpenArchive(*data);
  if (!status) {
    std::string why = status.error().message;
    if (status.error().kind == clip::skin::ErrorKind::old_version) why = "archive version is not 20000";
    return fail(path + ": damaged or rejected skin file: " + why);
  }
  return 0;
}

int pack(const std::string& out, const std::vector<std::string>& files) {
  std::vector<clip::skin::ArchiveEntry> entries;
  for (const auto& f : files) {
    auto data = read_file(f);
    if (!data) return fail("cannot read " + f);
    entries.push_back({base_name(f), std::move(*data)});
  }
  auto stream = clip::skin::pack_skin_stream(entries);
  if (!stream) return fail("cannot pack: " + stream.error().message);
  if (!write_file(out, stream.value())) return fail("cannot write " + out);
  return 0;
}

int list(const std::string& path) {
  clip::skin::TSkinReader reader;
  if (int rc = open_skin(path, reader)) return rc;
  for (std::size_t i = 0; i < reader.names().size(); ++i)
    std::cout << reader.names()[i] << '\t' << reader.sizes()[i] << '\n';
  return 0;
}

int extract(const std::string& path, const std::string& name, const std::string& out) {
  clip::skin::TSkinReader reader;
  if (int rc = open_skin(path, reader)) return rc;
  const auto entry = reader.FindEntry(name);
  if (!entry) return fail(path + ": no entry named " + name);
  if (!write_file(out, Bytes(entry->begin(), entry->end()))) return fail("cannot write " + out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  const std::string& command = args[0];
  if (command == "pack" && args.size() >= 2) return pack(args[1], {args.begin() + 2, args.end()});
  if (command == "list" && args.size() == 2) return list(args[1]);
  if (command == "extract" && args.size() == 4) return extract(args[1], args[2], args[3]);
  return usage();
}
