// velmora-samples DIR: writes sample image files for trying Velmora with the
// simulated receiver. The bytes come from fixed seeds, so every machine gets
// the same files; the App image carries the loader's marker after its first
// 512 bytes, as real application images do.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "serial/standard_descriptors.h"
#include "sim/sample_bytes.h"

namespace {

struct Sample {
  const char* file;
  size_t length;
  uint32_t seed;
};

constexpr Sample kSamples[] = {
    {"boot.bin", 8192, 1}, {"almanac.bin", 4096, 2}, {"app.bin", 49152, 3},
    {"usr.bin", 2048, 4},  {"ni.bin", 1024, 5},      {"nd.bin", 3000, 6},
};

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr,
                 "usage: velmora-samples DIR\nwrites boot.bin almanac.bin app.bin usr.bin "
                 "ni.bin nd.bin into DIR\n");
    return argc == 2 ? 0 : 2;
  }
  for (const Sample& s : kSamples) {
    std::string bytes = SeededImage(s.length, s.seed);
    if (std::string(s.file) == "app.bin") bytes.replace(1024, 4, "QVRX");
    const std::string path = std::string(argv[1]) + "/" + s.file;
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) {
      std::fprintf(stderr, "velmora-samples: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
