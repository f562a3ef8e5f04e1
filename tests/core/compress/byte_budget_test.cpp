// Tests of the byte budget that whole-file compressions share (codec layer):
// the bytes in flight never pass the cap, takers are served in turn, and
// the compressor's own calls on several threads stay inside it.
#include "core/compress/byte_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/compress/codec.h"
#include "core/compress/compressor.h"
#include "tests/core/compress/codec_runner.h"
#include "tests/support/test_support.h"

namespace {

using qx::codec_detail::BudgetHold;
using qx::codec_detail::ByteBudget;
using namespace std::chrono_literals;

TEST(ByteBudget, ThreadsTakingAtRandomNeverHoldMoreThanTheCapTogether) {
  constexpr size_t kCap = 1000;
  ByteBudget budget(kCap);
  std::atomic<size_t> held{0};
  std::atomic<size_t> most{0};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      for (int i = 0; i < 300; ++i) {
        // Now and then the whole cap, or more than it, which waits for all.
        const size_t want = i % 50 == 0 ? kCap + 5 * (t % 2) : random() % 400 + 1;
        BudgetHold hold(budget, want);
        const size_t taken = want < kCap ? want : kCap;
        const size_t now = held.fetch_add(taken) + taken;
        size_t seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        held.fetch_sub(taken);
      }
      ++done;
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(done.load(), 8);
  EXPECT_LE(most.load(), kCap);
  EXPECT_LE(budget.peak(), kCap);
  // All was given back: the whole cap can be had again at once.
  BudgetHold all(budget, kCap);
}

TEST(ByteBudget, ALargeTakerIsNotPassedOverBySmallOnesThatCameLater) {
  ByteBudget budget(16);
  std::atomic<bool> release_large{false};
  std::atomic<bool> large_has{false};
  std::atomic<bool> small_has{false};
  auto first = std::make_unique<BudgetHold>(budget, 10);
  auto wait_for = [](auto done) {
    while (!done()) {
      std::this_thread::sleep_for(1ms);
    }
  };
  std::thread large([&] {
    BudgetHold hold(budget, 16);
    large_has = true;
    wait_for([&] { return release_large.load(); });
  });
  wait_for([&] { return budget.waiting() == 1; });
  std::thread small([&] {
    BudgetHold hold(budget, 1);
    small_has = true;
    // The small one comes only after the large one gave its bytes back.
    EXPECT_TRUE(release_large.load());
  });
  wait_for([&] { return budget.waiting() == 2; });
  // One byte would fit beside the ten held, but the large taker is first.
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(small_has.load());
  EXPECT_FALSE(large_has.load());
  first.reset();
  wait_for([&] { return large_has.load(); });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(small_has.load());
  release_large = true;
  large.join();
  small.join();
  EXPECT_TRUE(small_has.load());
  EXPECT_EQ(budget.peak(), 16u);
}

// Files at the whole-file bound compressed on four threads at once: the
// buffers they hold together stay within the budget, and they do take from
// it, so a seal of many such files holds at most the budget's bytes.
TEST(ByteBudget, CompressionsOfLargeFilesOnFourThreadsStayWithinTheBudget) {
  constexpr size_t kBound = qx::codec_detail::kWholeFileBound;
  std::vector<std::string> sources;
  for (int i = 0; i < 4; ++i) {
    sources.push_back(qx_test::RandomBytes(kBound - static_cast<size_t>(i), 30 + i));
  }
  std::vector<qx_codec_test::CodecRun> runs(sources.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < sources.size(); ++i) {
    threads.emplace_back([&, i] {
      runs[i] =
          qx_codec_test::RunCodec(sources[i], true, qx_codec_test::Feed::kFile, "Demo", false);
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    EXPECT_EQ(runs[i].result, qx::kCodecOk);
    EXPECT_EQ(runs[i].expanded, static_cast<int64_t>(sources[i].size()));
  }
  const size_t peak = qx::codec_detail::WholeFileBudget().peak();
  EXPECT_GE(peak, 2 * kBound);
  EXPECT_LE(peak, qx::codec_detail::kWholeFileBudget);
}

}  // namespace
