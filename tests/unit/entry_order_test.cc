// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/entry_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {
namespace scanner {
namespace {

// The order by its definition: applications first, then whole entries.
bool reference_order(const std::string& a, const std::string& b) {
  std::string_view app_a = std::string_view(a).substr(0, a.find('/'));
  std::string_view app_b = std::string_view(b).substr(0, b.find('/'));
  int c = app_a.compare(app_b);
  return c != 0 ? c < 0 : a < b;
}

TEST(EntryOrderTest, KeepsEachApplicationTogether) {
  std::vector<std::string> entries = {"app/y",      "app 3/x", "app-old/x",   "app",
                                      ".shard/b.2", ".shard",  "ap/z",        "app/",
                                      "/lead",      "",        ".shard-old/q"};
  std::sort(entries.begin(), entries.end(), application_order);
  EXPECT_EQ(entries,
            (std::vector<std::string>{"", "/lead", ".shard", ".shard/b.2", ".shard-old/q", "ap/z",
                                      "app", "app/", "app/y", "app 3/x", "app-old/x"}));
}

TEST(EntryOrderTest, AgreesWithTheDefinitionOnRandomEntries) {
  // Short words over an alphabet around "/" in byte order, and a byte above
  // 127, so that every branch meets its edge.
  const std::string alphabet = std::string(" -./0a") + '\xe9';
  std::mt19937 random(9);
  auto word = [&] {
    std::string w(random() % 7, ' ');
    for (char& c : w) c = alphabet[random() % alphabet.size()];
    return w;
  };
  for (int i = 0; i < 200000; ++i) {
    std::string a = word();
    std::string b = random() % 4 == 0 ? a.substr(0, random() % (a.size() + 1)) + word() : word();
    ASSERT_EQ(application_order(a, b), reference_order(a, b)) << "'" << a << "' '" << b << "'";
    ASSERT_EQ(application_order(b, a), reference_order(b, a)) << "'" << b << "' '" << a << "'";
  }
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
