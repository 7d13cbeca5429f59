#include "library/Records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "platform/Sanitizer.h"

namespace {

// Song records come from a pool of 64-byte slots: records in use never overlap, deleted ones are used
// again before the pool grows, and threads may make and delete records at once.
TEST(SongRecordPoolTest, SlotsAreDistinctAndReused) {
    if (platform::kAddressSanitizer) GTEST_SKIP() << "records come from the ordinary heap in this build";
    std::mt19937 rng(3);
    std::vector<Song*> live;
    for (int i = 0; i < 10000; ++i) {
        live.push_back(new Song);
        live.back()->id = i;
    }
    std::set<uintptr_t> addresses;
    for (Song* s : live) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(s) % 64, 0u);
        addresses.insert(reinterpret_cast<uintptr_t>(s));
    }
    EXPECT_EQ(addresses.size(), live.size());
    for (size_t i = 0; i < live.size(); ++i) EXPECT_EQ(live[i]->id, static_cast<int32_t>(i));  // nothing overwritten

    const size_t held = song_record_pool::SlotsHeld();
    std::shuffle(live.begin(), live.end(), rng);
    for (size_t i = 0; i < live.size() / 2; ++i) delete live[i];
    live.erase(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(live.size() / 2));
    for (int i = 0; i < 5000; ++i) live.push_back(new Song);
    EXPECT_EQ(song_record_pool::SlotsHeld(), held);  // the freed slots served the new records

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            std::vector<Song*> mine;
            for (int round = 0; round < 2000; ++round) {
                mine.push_back(new Song);
                mine.back()->name = L"月亮";
                if (round % 3 == 0) {
                    delete mine.front();
                    mine.erase(mine.begin());
                }
            }
            for (Song* s : mine) {
                EXPECT_EQ(s->name, L"月亮");
                delete s;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const size_t inUse = song_record_pool::SlotsInUse();
    for (Song* s : live) delete s;
    EXPECT_EQ(song_record_pool::SlotsInUse(), inUse - live.size());
}

}  // namespace
