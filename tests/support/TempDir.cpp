#include "tests/support/TempDir.h"

#include <random>
#include <stdexcept>
#include <system_error>

namespace zxtest {

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = base / ("zxtest-" + std::to_string(random() % 100000000000ull));
        std::error_code error;
        // create_directory is false when the folder already existed: try another name.
        if (std::filesystem::create_directory(candidate, error) && !error) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace zxtest
