// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/stages/entry_order.h"

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

// Words over an alphabet around "/" in byte order, and a byte above 127, so
// that every branch meets its edge; some share a long prefix, so that the
// first difference lies past the first eight bytes too.
class random_entries {
 public:
  std::string next() {
    std::string w(random_() % 7, ' ');
    for (char& c : w) c = alphabet_[random_() % alphabet_.size()];
    switch (random_() % 4) {
      case 0: return last_ = last_.substr(0, random_() % (last_.size() + 1)) + w;
      case 1: return last_ = std::string(8 + random_() % 16, 'a') + w;
      default: return last_ = w;
    }
  }

 private:
  const std::string alphabet_ = std::string(" -./0a\xe9") + '\0';
  std::mt19937 random_{9};
  std::string last_;
};

TEST(EntryOrderTest, AgreesWithTheDefinitionOnRandomEntries) {
  random_entries words;
  for (int i = 0; i < 200000; ++i) {
    std::string a = words.next();
    std::string b = words.next();
    ASSERT_EQ(application_order(a, b), reference_order(a, b)) << "'" << a << "' '" << b << "'";
    ASSERT_EQ(application_order(b, a), reference_order(b, a)) << "'" << b << "' '" << a << "'";
  }
}

// The entries are dealt out by application and each application is sorted
// on its own, on two threads for large lists: the result must be the one
// order whatever the size and however the entries spread over applications,
// duplicates included.
TEST(EntryOrderTest, SortEntriesGivesTheOneOrderAtEverySize) {
  random_entries words;
  const std::vector<std::string> spreads = {"", "one/", "x/", "two/"};
  for (std::size_t size : {0u, 1u, 2u, 1000u, 32767u, 32768u, 100001u}) {
    for (const std::string& lead : spreads) {
      std::vector<std::string> entries;
      std::mt19937 pick(static_cast<unsigned>(size));
      for (std::size_t i = 0; i < size; ++i) {
        // Many applications; all in one; most in one and a few others; or
        // two of about the same size.
        if (lead == "two/") {
          entries.push_back((pick() % 2 ? "p/" : "q/") + words.next());
          continue;
        }
        bool in_lead = lead == "one/" || (lead == "x/" && pick() % 10 != 0);
        entries.push_back(in_lead ? lead + words.next() : words.next());
      }
      std::vector<std::string> expected = entries;
      std::sort(expected.begin(), expected.end(), reference_order);
      sort_entries(entries);
      ASSERT_EQ(entries, expected) << size << " entries, lead '" << lead << "'";
    }
  }
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
