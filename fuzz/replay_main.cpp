// SPDX-License-Identifier: MIT
// Runs a fuzz target over the files of its corpus, without the fuzzing engine: every
// build replays what the fuzzers found.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int k = 1; k < argc; ++k) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[k])) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::cout << "replayed " << replayed << " inputs" << std::endl;
    return replayed > 0 ? 0 : 1;
}
