// The hand-over between the index reader thread and the loader: order, back-pressure, both ways of ending
// early, and errors. Every wait in these tests is bounded, so a fault fails instead of hanging.
#include "library/ChunkPipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <vector>

namespace {

struct Numbers {
    std::vector<int> values;
};

// Fills chunks with `total` consecutive numbers, `perChunk` to a chunk, and records how far ahead of the
// user it ever got.
void Produce(ChunkPipe<Numbers>& pipe, int total, int perChunk, std::atomic<int>* produced) {
    try {
        Numbers* chunk = pipe.TakeFree();
        for (int i = 0; i < total && chunk != nullptr; ++i) {
            chunk->values.push_back(i);
            produced->store(i + 1);
            if (static_cast<int>(chunk->values.size()) == perChunk) {
                pipe.PutFilled(chunk);
                chunk = pipe.TakeFree();
            }
        }
        if (chunk != nullptr) pipe.PutFilled(chunk);
        pipe.Finish(nullptr);
    } catch (...) {
        pipe.Finish(std::current_exception());
    }
}

TEST(ChunkPipeTest, EverythingArrivesInOrderAndTheReaderStaysAFewChunksAhead) {
    ChunkPipe<Numbers> pipe(3);
    std::atomic<int> produced{0};
    ChunkReaderThread<Numbers> reader(pipe, "test-reader", [&] { Produce(pipe, 1000, 10, &produced); });
    std::vector<int> got;
    int consumed = 0;
    int mostAhead = 0;
    while (Numbers* chunk = pipe.TakeFilled()) {
        // A slow user: the reader must wait for chunks to come back rather than run ahead.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        mostAhead = std::max(mostAhead, produced.load() - consumed);
        got.insert(got.end(), chunk->values.begin(), chunk->values.end());
        consumed += static_cast<int>(chunk->values.size());
        chunk->values.clear();
        pipe.PutFree(chunk);
    }
    reader.Join();
    ASSERT_EQ(got.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], i);
    // Three chunks of ten in circulation: at most the three taken plus the one being filled.
    EXPECT_LE(mostAhead, 40);
}

TEST(ChunkPipeTest, AUserThatStopsEarlyStopsTheReader) {
    ChunkPipe<Numbers> pipe(2);
    std::atomic<int> produced{0};
    const auto start = std::chrono::steady_clock::now();
    {
        ChunkReaderThread<Numbers> reader(pipe, "test-reader", [&] { Produce(pipe, 1 << 30, 10, &produced); });
        Numbers* first = pipe.TakeFilled();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->values.front(), 0);
        // Leaving without Join (as an exception would): the destructor cancels and waits.
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LE(produced.load(), 40);  // the reader stopped instead of producing its billion numbers
}

TEST(ChunkPipeTest, TheReadersErrorReachesTheUserAfterWhatCameBeforeIt) {
    ChunkPipe<Numbers> pipe(2);
    ChunkReaderThread<Numbers> reader(pipe, "test-reader", [&] {
        try {
            Numbers* chunk = pipe.TakeFree();
            chunk->values = {1, 2, 3};
            pipe.PutFilled(chunk);
            throw std::runtime_error("disk gone");
        } catch (...) {
            pipe.Finish(std::current_exception());
        }
    });
    Numbers* chunk = pipe.TakeFilled();
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->values, (std::vector<int>{1, 2, 3}));
    pipe.PutFree(chunk);
    EXPECT_EQ(pipe.TakeFilled(), nullptr);
    EXPECT_THROW(reader.Join(), std::runtime_error);
}

TEST(ChunkPipeTest, SignalsAreBlockedOnTheReaderOnly) {
    ChunkPipe<Numbers> pipe(1);
    bool termBlocked = false;
    bool intBlocked = false;
    ChunkReaderThread<Numbers> reader(pipe, "test-reader", [&] {
        sigset_t current;
        pthread_sigmask(SIG_SETMASK, nullptr, &current);
        termBlocked = sigismember(&current, SIGTERM) == 1;
        intBlocked = sigismember(&current, SIGINT) == 1;
        pipe.Finish(nullptr);
    });
    EXPECT_EQ(pipe.TakeFilled(), nullptr);
    reader.Join();
    EXPECT_TRUE(termBlocked);
    EXPECT_TRUE(intBlocked);
    sigset_t mine;
    pthread_sigmask(SIG_SETMASK, nullptr, &mine);
    EXPECT_EQ(sigismember(&mine, SIGTERM), 0) << "the creating thread's mask must be restored";
}

}  // namespace
