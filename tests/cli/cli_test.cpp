#include "cli/cli.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/json.h"
#include "recover/recover.h"

namespace clip::cli {
namespace {

namespace fs = std::filesystem;

class Workspace {
 public:
  Workspace() {
    static int serial = 0;
    dir_ = fs::temp_directory_path() /
           ("clipsalvage-cli-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
            std::to_string(++serial));
    fs::create_directories(dir_);
    image_ = dir_ / "disk.img";
    // Past 4,096,000,000 bytes, sparse: the signature lies after the search start.
    std::ofstream out(image_, std::ios::binary);
    const int64_t f = 8000130;
    auto header = [&](int64_t s, char ch, char second) {
      out.seekp(s * 512 + 43);
      const char t[6] = {12, 5, 20, 13, 45, second};
      out.write(t, 6);
      out.seekp(s * 512 + 80);
      out.write("MDVR96NT_2_R", 12);
      out.seekp(s * 512 + 468);
      out.put(ch);
    };
    header(f, 1, 30);
    out.seekp((f + 128) * 512 + 300);
    out.write("0xdcH264", 8);
    header(f + 256, 2, 31);
    header(f + 384, 1, 32);
    // Data in block f + 512: an all-zero block would join no clip.
    out.seekp((f + 512) * 512 + 100);
    out.put('\x7f');
    out.seekp((f + 700) * 512 - 1);
    out.put('\x7f');
  }
  ~Workspace() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string image() const { return image_.string(); }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_, image_;
};

// The path the report names: on Windows a file's long-path form.
std::string source_path(const std::string& image) {
#ifdef _WIN32
  return "\\\\?\\" + image;
#else
  return image;
#endif
}

struct Output {
  int status;
  std::string out, err;
};

std::string read_all(std::FILE* f, const fs::path& p) {
  std::fclose(f);
  f = std::fopen(p.string().c_str(), "rb");
  std::string s;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
  std::fclose(f);
  return s;
}

Output call(std::vector<std::string> args, std::function<bool()> stop = {}, recover::VolumeMap* volumes = nullptr) {
  static int serial = 0;
  const fs::path base = fs::temp_directory_path() / ("clipsalvage-cli-out-" + std::to_string(++serial));
  const fs::path out_path = base.string() + ".out", err_path = base.string() + ".err";
  Environment env;
  env.out = std::fopen(out_path.string().c_str(), "w+b");
  env.err = std::fopen(err_path.string().c_str(), "w+b");
  env.stop = std::move(stop);
  env.volumes = volumes;
  const int status = run(args, env);
  Output result{status, read_all(env.out, out_path), read_all(env.err, err_path)};
  fs::remove(out_path);
  fs::remove(err_path);
  return result;
}

TEST(Json, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(json_string("a\"b\\c\n\x01\x7f中"), "\"a\\\"b\\\\c\\n\\u0001\\u007f中\"");
}

TEST(CliScan, JsonReportOfABigSparseImage) {
  Workspace ws;
  const auto r = call({"scan", ws.image(), "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"source\": " + json_string(source_path(ws.image())) +
                ", \"sectors\": 8000830, \"signature_sector\": 8000130, \"complete\": true, \"unreadable\": [], "
                "\"clips\": [{\"number\": 1, \"channel\": \"01\", \"start\": \"2012-05-20 13-45-30\", \"size_mb\": 0, "
                "\"name\": \"ch00000000000001-12-05-20-13-45-30-.264\", \"blocks\": 2, \"first_sector\": 8000130, "
                "\"closed\": true, \"runs\": [[8000130, 2]]}, {\"number\": 2, \"channel\": \"02\", \"start\": "
                "\"2012-05-20 13-45-31\", \"size_mb\": 0, \"name\": \"ch00000000000002-12-05-20-13-45-31-.264\", "
                "\"blocks\": 1, \"first_sector\": 8000386, \"closed\": false, \"runs\": [[8000386, 1]]}, "
                "{\"number\": 3, \"channel\": \"01\", \"start\": \"2012-05-20 13-45-32\", \"size_mb\": 0, \"name\": "
                "\"ch00000000000001-12-05-20-13-45-32-.264\", \"blocks\": 3, \"first_sector\": 8000514, \"closed\": "
                "false, \"runs\": [[8000514, 3]]}]}\n");
  EXPECT_NE(r.err.find("扫描完成!"), std::string::npos);
}

TEST(CliScan, ExitStatusForUsageMissingSourceAndStop) {
  Workspace ws;
  EXPECT_EQ(call({}).status, 2);
  EXPECT_EQ(call({"scan"}).status, 2);
  EXPECT_EQ(call({"scan", ws.image(), "--bogus"}).status, 2);
  EXPECT_EQ(call({"recover", ws.image()}).status, 2);
  EXPECT_EQ(call({"recover", ws.image(), "--out", "x", "--clip", "zero"}).status, 2);
  const auto missing = call({"scan", (ws.dir() / "none.img").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("打开源设备出错"), std::string::npos);
  // Stopped at once: nothing listed, but the report is still printed.
  const auto stopped = call({"scan", ws.image(), "--json"}, [] { return true; });
  EXPECT_EQ(stopped.status, 130);
  EXPECT_NE(stopped.out.find("\"complete\": false"), std::string::npos);
  EXPECT_NE(stopped.out.find("\"clips\": []"), std::string::npos);
}

std::string file_sha(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  recover::Sha256 h;
  h.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return h.hex();
}

TEST(CliRecover, WritesChosenClipsAndReportsTheirHashes) {
  Workspace ws;
  const fs::path out = ws.dir() / "out";
  fs::create_directory(out);
  const auto r = call({"recover", ws.image(), "--out", out.string(), "--clip", "3", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path file = out / "ch00000000000001-12-05-20-13-45-32-.264";
  ASSERT_TRUE(fs::exists(file));
  // Blocks at 8000514 and 8000642, then the 60-sector tail at 8000770.
  EXPECT_EQ(fs::file_size(file), (128 + 128 + 60) * 512u);
  const std::string tail = ", \"bytes\": 161792, \"sha256\": \"" + file_sha(file) + "\", \"unreadable\": []}]}\n";
  EXPECT_NE(r.out.find("\"files\": [{\"number\": 3, \"name\": \"ch00000000000001-12-05-20-13-45-32-.264\""),
            std::string::npos);
  EXPECT_NE(r.out.find(tail), std::string::npos) << r.out;

  const auto all = call({"recover", ws.image(), "--out", out.string()});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 4);
  EXPECT_TRUE(fs::exists(out / "ch00000000000001-12-05-20-13-45-32-(1).264"));

  EXPECT_EQ(call({"recover", ws.image(), "--out", out.string(), "--clip", "9"}).status, 1);
  EXPECT_EQ(call({"recover", ws.image(), "--out", (ws.dir() / "nofolder").string()}).status, 1);
}

class SameDisk final : public recover::VolumeMap {
 public:
  std::vector<std::string> source_ids(const std::string&) override { return {"disk:0"}; }
  std::vector<std::string> folder_ids(const std::string&) override { return {"vol:x", "disk:0"}; }
};

TEST(CliRecover, RefusesAFolderOnTheSourceDisk) {
  Workspace ws;
  SameDisk volumes;
  const auto r = call({"recover", ws.image(), "--out", ws.dir().string()}, {}, &volumes);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("源介质上"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(ws.dir()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace clip::cli
