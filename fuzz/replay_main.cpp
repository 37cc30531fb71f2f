// Runs a fuzz target over files and folders of inputs without libFuzzer, so every build and
// every compiler replays the seed corpus and the regressions. A crash or a failed check ends
// the program as it would end the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    // A copy of exactly the input's size, so reading past its end is an error the
    // sanitizers see, as under libFuzzer.
    std::vector<uint8_t> exact(bytes);
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc < 2 ? stderr : stdout,
                     "usage: %s [--zeros N] FILE_OR_FOLDER...\n"
                     "Runs the fuzz target once on every file given and on every file in every\n"
                     "folder given (not recursive); --zeros N also runs it on N zero bytes, an\n"
                     "input too big to keep in the corpus. Exit status 0 when all ran, 1 when an\n"
                     "input could not be read.\n",
                     argv[0]);
        return argc < 2 ? 2 : 0;
    }
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--zeros" && i + 1 < argc) {
            std::vector<uint8_t> zeros(std::stoull(argv[++i]), 0);
            LLVMFuzzerTestOneInput(zeros.data(), zeros.size());
            ++replayed;
            continue;
        }
        std::filesystem::path path(argv[i]);
        std::vector<std::filesystem::path> files;
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(path);
        }
        for (auto& file : files) {
            if (!Replay(file)) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return 0;
}
