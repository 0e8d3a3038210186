// Runs the answer fuzzer's inputs without libFuzzer, so every build replays the kept corpus;
// with --seeds DIR it writes what the corpus grew from: a good answer to each function.
// Usage: fuzz_replay [--seeds DIR] FILE-OR-DIR...

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ScriptedSerial.h"
#include "link/ModBus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

void Run(const Bytes& input) {
  LLVMFuzzerTestOneInput(input.data(), input.size());
}

// The answer a unit gives to the request: every register 0x0101 (a valid date too).
Bytes GoodAnswer(const Bytes& request) {
  Bytes answer(request.begin(), request.begin() + 2);
  if (request[1] == 3 || request[1] == 4) {
    answer.push_back(static_cast<uint8_t>(2 * request[5]));
    answer.resize(answer.size() + 2 * request[5], 1);
  } else {
    answer.insert(answer.end(), request.begin() + 2, request.begin() + 6);
  }
  const uint16_t crc = ModBus::Crc16(answer.data(), answer.size());
  answer.insert(answer.end(), {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
  return answer;
}

int WriteSeeds(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  int written = 0;
  for (uint8_t function = 0; function < 22; ++function) {
    for (const auto& [a, b] : {std::pair<uint8_t, uint8_t>{0, 12}, {3, 1}, {3, 232}}) {
      Bytes input{function, 1, a, b};
      Run(input);
      const Bytes request = Scripted::Written();
      if (request.size() < 8) continue;
      const Bytes answer = GoodAnswer(request);
      input.insert(input.end(), answer.begin(), answer.end());
      char name[32];
      std::snprintf(name, sizeof name, "seed-%02d-%d-%d", function, a, b);
      std::ofstream(folder / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(input.data()), static_cast<long>(input.size()));
      ++written;
    }
  }
  std::printf("%d seeds in %s\n", written, folder.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--seeds") return WriteSeeds(argv[2]);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
        files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    Run(Bytes(std::istreambuf_iterator<char>(in), {}));
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;
}
