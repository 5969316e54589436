#include "common/Log.h"
#include "filesave/ZxFileSavePool.h"
#include "filesave/ZxRecordRouter.h"
#include "tests/support/CsvFiles.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// The crash path stops every save on the thread that crashed, which may be the saving
// thread in the middle of a pass (a writer that faulted): taking that router out of the
// pool must not wait for the very pass its own thread is running. A hang ends by the
// alarm here; in a host only the crash path's 2 s alarm would end it.
TEST(FileSavePoolDeathTest, ASavingThreadTakesOutTheRouterItIsPassingWithoutWaitingForItself) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(5);
            zxtest::TempDir root;
            auto pool = std::make_shared<ZxFileSavePool>();
            auto router =
                std::make_shared<ZxRecordRouter>(root.string(), 10, ZxIdMappingTable{{0x101, "SelfRemove"}});
            const std::thread::id testThread = std::this_thread::get_id();
            std::atomic<bool> removed{false};
            // A file opens only inside a pass: the hook then runs on the passing thread.
            Common::setLogLineHook([&](std::string_view line) {
                if (std::this_thread::get_id() != testThread && !removed.load() &&
                    line.find("File opened") != std::string_view::npos &&
                    line.find("SelfRemove") != std::string_view::npos) {
                    pool->remove(router.get());
                    removed = true;
                }
            });
            const std::vector<ZxCollectData> records = zxtest::numberedRecords(0x101, 0, 5000);
            router->push(records.data(), records.size());
            pool->add(router);
            const bool done = zxtest::pollUntil(std::chrono::seconds(4), [&] { return removed.load(); });
            _exit(done ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
