#include "main/number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

namespace quorvel {
namespace {

TEST(ParseTime, AcceptsTheCLibraryNumberForms) {
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"0", 0},
      {"1e3", 1000},
      {"+1000", 1000},
      {"-5", -5},
      {".5", 0.5},
      {"5.", 5},
      {"-2.5", -2.5},
      {"0x1p3", 8},
      {"12.5", 12.5},
      {"1700000000000", 1.7e12},
      {"0X10", 16},
      {"1E-3", 0.001},
      {"inf", INFINITY},
      {"-Infinity", -INFINITY},
      {"1e400", INFINITY},
  };
  for (const auto& c : cases) {
    const std::optional<double> parsed = parseTime(c.text);
    ASSERT_TRUE(parsed.has_value()) << c.text;
    EXPECT_EQ(*parsed, c.value) << c.text;
  }
  EXPECT_TRUE(std::isnan(parseTime("nan").value()));
  EXPECT_TRUE(std::isnan(parseTime("NAN(123)").value()));
}

TEST(ParseTime, RejectsAnythingNotWhollyANumber) {
  const std::string cases[] = {
      "",
      " 1",
      "1 ",
      "\t1",
      "\n1",
      "\v1",
      "\f1",
      "\r1",
      "abc",
      "1abc",
      "1,5",
      "1_000",
      "10ms",
      "--1",
      "+",
      ".",
      "e3",
      "0x",
      "1e",
      "infinit",
      std::string("1\0", 2),
      std::string("\0", 1),
  };
  for (const std::string& text : cases) {
    EXPECT_FALSE(parseTime(text).has_value()) << '"' << text << '"';
  }
}

// A decimal comma in the process's locale must not change what parses.
TEST(ParseTime, IgnoresTheProcessLocale) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "de_DE.UTF-8 is not generated on this machine";
  }
  EXPECT_EQ(parseTime("12.5"), 12.5);
  EXPECT_FALSE(parseTime("12,5").has_value());
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
}  // namespace quorvel
