// The working memory of one thread that saves: a batch of records taken from a record
// queue and the CSV text of one chunk of points. Each saving thread has its own, so
// the hundreds of files of a large save share a few of these instead of one each.
#pragma once

#include "zxcollector_api.h"

#include <cstddef>
#include <memory>

struct ZxFileSaveScratch {
    // Records taken from a queue at a time: at most one record queue's batch is
    // routed before the writers with a full chunk write it out.
    static constexpr std::size_t kBatchRecords = 20000;
    static constexpr std::size_t kChunkPoints = 4096;
    // Longest line: 31 timestamp characters, ",", "-2147483648", LF.
    static constexpr std::size_t kMaxLineBytes = 31 + 1 + 11 + 1;
    static constexpr std::size_t kLineBufferBytes = kChunkPoints * kMaxLineBytes;

    // Not zero-filled: pages are touched only as far as they are used.
    std::unique_ptr<ZxCollectData[]> batch{new ZxCollectData[kBatchRecords]};
    std::unique_ptr<char[]> lineBuffer{new char[kLineBufferBytes]};
};
