// Replays the fuzzer's corpus through the same checks without libFuzzer, so
// every input it ever found interesting stays a regression test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char *argv[])
{
    int files = 0;
    for (int a = 1; a < argc; ++a) {
        for (const auto &entry : std::filesystem::directory_iterator(argv[a])) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            // The checks abort on any failure, naming nothing; say which file first.
            std::fprintf(stderr, "%s\n", entry.path().string().c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                   bytes.size());
            ++files;
        }
    }
    std::printf("%d passed, 0 failed\n", files);
    return files > 0 ? 0 : 1;
}
