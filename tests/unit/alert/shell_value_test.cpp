#include "alert/shell_value.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

TEST(ShellValue, OnlyLettersDigitsAndTheAddressCharactersAreSafe) {
  for (int c = 1; c < 256; ++c) {
    const char value[] = {'a', static_cast<char>(c), 'b', '\0'};
    const bool expected = (c < 128 && std::isalnum(c)) || std::strchr("@._-+:/,%", c);
    EXPECT_EQ(shell_safe_value(value), expected) << c;
    EXPECT_EQ(shell_safe_value(value, ' '), expected || c == ' ') << c;
  }
  EXPECT_TRUE(shell_safe_value(""));
}

TEST(ShellValue, EchoQuotingEscapesTheFourCharactersAndEndsWithinItsBuffer) {
  EXPECT_STREQ(echo_quoted("a\"b\\c$d`e'f;g").c_str(), "a\\\"b\\\\c\\$d\\`e'f;g");
  EXPECT_STREQ(echo_quoted("").c_str(), "");
  const std::string quotes(EchoQuoted::kMax, '"');
  const std::string cut = echo_quoted(quotes.c_str()).c_str();
  EXPECT_EQ(cut.size(), EchoQuoted::kMax - 2);  // whole pairs only, and the terminator
  EXPECT_EQ(cut.substr(0, 4), "\\\"\\\"");
}
