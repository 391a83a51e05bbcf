#include "stack-ffi/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace zerv::ffi {
namespace {

struct Counter {
  int value = 0;
};

TEST(HandleRegistry, NumbersStartAtOneAndAreNeverReused) {
  HandleRegistry<Counter> reg;
  EXPECT_EQ(reg.insert(), 1u);
  EXPECT_EQ(reg.insert(), 2u);
  reg.remove(1);
  EXPECT_EQ(reg.lookup(1), nullptr);
  EXPECT_EQ(reg.insert(), 3u);
  EXPECT_NE(reg.lookup(2), nullptr);
  reg.remove(42);  // unregistered: ignored
}

TEST(HandleRegistry, TypesNumberIndependently) {
  struct A {};
  struct B {};
  HandleRegistry<A> a;
  HandleRegistry<B> b;
  EXPECT_EQ(a.insert(), 1u);
  EXPECT_EQ(b.insert(), 1u);
}

TEST(HandleRegistry, RemovedObjectLivesWhileReferenced) {
  HandleRegistry<std::string> reg;
  uint32_t h = reg.insert("alive");
  auto ref = reg.lookup(h);
  reg.remove(h);
  EXPECT_EQ(reg.lookup(h), nullptr);
  std::lock_guard lock(ref->mutex);
  EXPECT_EQ(ref->object, "alive");
}

TEST(HandleRegistry, CounterWrapsToZeroAfterTheLastNumber) {
  HandleRegistry<int> reg(0xFFFFFFFFu);
  EXPECT_EQ(reg.insert(7), 0xFFFFFFFFu);
  EXPECT_EQ(reg.insert(8), 0u);
  EXPECT_EQ(reg.insert(9), 1u);
  EXPECT_EQ(reg.lookup(0)->object, 8);
}

TEST(HandleRegistry, ConcurrentInsertsGetDistinctHandles) {
  HandleRegistry<int> reg;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::vector<uint32_t>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) got[t].push_back(reg.insert(i));
    });
  for (auto& th : threads) th.join();
  std::vector<bool> seen(kThreads * kEach + 1);
  for (auto& v : got)
    for (uint32_t h : v) {
      ASSERT_TRUE(h >= 1 && h <= kThreads * kEach);
      EXPECT_FALSE(seen[h]);
      seen[h] = true;
    }
}

}  // namespace
}  // namespace zerv::ffi
