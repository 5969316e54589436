#include "filesave/ZxRecordRouter.h"
#include "tests/support/CsvFiles.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// A disk slower than the input: the host keeps the queue full while a pass runs. The
// pass still ends (and the saving thread goes to the other saves and to the 500 ms
// write) instead of chasing the input for as long as the host pushes.
TEST(RecordRouter, APassEndsWhileTheHostPushesFasterThanTheDiskTakes) {
    zxtest::TempDir root;
    ZxRecordRouter router(root.string(), 10, {{0x101, "Probe"}}, 100000);
    const std::vector<ZxCollectData> batch = zxtest::numberedRecords(0x101, 0, 1000);
    for (int i = 0; i < 100; ++i) {
        router.push(batch.data(), batch.size());
    }
    std::atomic<bool> passEnded{false};
    std::atomic<bool> hostGaveUp{false};
    std::thread host([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!passEnded.load()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                hostGaveUp = true;
                return;
            }
            router.push(batch.data(), batch.size());
        }
    });
    ZxFileSaveScratch scratch;
    router.runPass(scratch);
    passEnded = true;
    host.join();
    EXPECT_FALSE(hostGaveUp.load()) << "the pass went on until the host stopped pushing";
    router.finish(scratch);
}

} // namespace
