// SPDX-License-Identifier: MIT
// Runs a fuzz target over files, without libFuzzer: the build that has no
// libFuzzer (g++, and the sanitized build) replays the committed corpus of
// each target as a regression test. Each argument is an input file or a
// directory of them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path p = argv[i];
        if (std::filesystem::is_directory(p)) {
            for (const auto &entry : std::filesystem::directory_iterator(p))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
        } else {
            inputs.push_back(p);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        fprintf(stderr, "%s: no inputs\n", argv[0]);
        return 2;
    }
    for (const auto &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        if (!in) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], p.c_str());
            return 2;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        fprintf(stderr, "%s\n", p.filename().c_str()); // names the input that fails
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    fprintf(stderr, "%s: %zu inputs replayed\n", argv[0], inputs.size());
    return 0;
}
