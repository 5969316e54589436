// Queue settings of file saving: records arrive by the thousand, so blocks
// of 1024 elements keep allocation and index bookkeeping far below one per element.
#pragma once

#include <concurrentqueue/concurrentqueue.h>

#include <cstddef>

struct ZxFileSaveQueueTraits : moodycamel::ConcurrentQueueDefaultTraits {
    static const std::size_t BLOCK_SIZE = 1024;
    static const std::size_t EXPLICIT_INITIAL_INDEX_SIZE = 64;
    static const std::size_t IMPLICIT_INITIAL_INDEX_SIZE = 64;
};

template <typename T> using ZxFileSaveQueue = moodycamel::ConcurrentQueue<T, ZxFileSaveQueueTraits>;
