#include "mls/engine/storage.h"

#include <gtest/gtest.h>

#include <thread>

namespace zerv::mls {
namespace {

Bytes b(std::string_view s) { return to_bytes(as_bytes(s)); }

TEST(Storage, PutGetReplaceErase) {
  Storage s;
  EXPECT_FALSE(s.get(b("k")).has_value());
  s.put(b("k"), b("v1"));
  s.put(b("k"), b("v2"));
  ASSERT_TRUE(s.get(b("k")).has_value());
  EXPECT_EQ(to_bytes(*s.get(b("k"))), b("v2"));
  EXPECT_EQ(s.size(), 1u);
  EXPECT_TRUE(s.erase(b("k")));
  EXPECT_FALSE(s.erase(b("k")));
  EXPECT_FALSE(s.contains(b("k")));
}

TEST(Storage, ListAndFillRoundTrip) {
  Storage a;
  a.put(b("x"), b("1"));
  a.put(Bytes{}, Bytes{});  // empty key and value are entries like any other
  a.put(Bytes{0, 0xFF}, b("3"));
  Storage c;
  c.put(b("x"), b("stale"));
  c.fill(a.list());
  EXPECT_EQ(c.list(), a.list());
  // A later pair with the same key wins.
  c.fill({{b("x"), to_secret(b("first"))}, {b("x"), to_secret(b("second"))}});
  EXPECT_EQ(to_bytes(*c.get(b("x"))), b("second"));
}

TEST(Storage, KeysOfDifferentKindsNeverCollide) {
  // "ab" + id "c" must differ from "a" + id "bc".
  EXPECT_NE(Storage::key("ab", b("c")), Storage::key("a", b("bc")));
}

TEST(Storage, ConcurrentReadersAndWriters) {
  Storage s;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&s, t] {
      for (int i = 0; i < 500; ++i) {
        Bytes k{static_cast<uint8_t>(t), static_cast<uint8_t>(i % 7)};
        s.put(k, k);
        auto v = s.get(k);
        if (v) {
          EXPECT_EQ(to_bytes(*v), k);
        }
        (void)s.list();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(s.size(), 28u);
}

}  // namespace
}  // namespace zerv::mls
