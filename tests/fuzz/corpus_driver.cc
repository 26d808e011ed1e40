// Runs every file named on the command line (or found in a directory named there) through a
// fuzz target once. The normal build links each target with this driver, so the targets keep
// compiling and their corpora serve as regression tests; tools/fuzz.sh links them with
// libFuzzer instead for real fuzzing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int run_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    int count = 0;
    // The empty input is always worth one run.
    LLVMFuzzerTestOneInput(nullptr, 0);
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p = argv[i];
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) count += run_file(e.path());
        } else {
            count += run_file(p);
        }
    }
    std::printf("%d inputs ran without a fault\n", count);
    return 0;
}
