#include "app/command_line.h"

#include <gtest/gtest.h>

namespace brova {
namespace {

TEST(CommandLine, AcceptsEveryForm) {
  TCommandLine c;
  ASSERT_FALSE(ParseCommandLine({"--home", "/g", "--headless", "--frames", "120", "--console",
                                 "--screenshot", "s.png", "--wav", "o.wav", "Usr/p.cmml",
                                 "FULLSCREEN"},
                                c));
  EXPECT_EQ(c.home, "/g");
  EXPECT_TRUE(c.headless);
  EXPECT_EQ(c.frames, 120);
  EXPECT_TRUE(c.console);
  EXPECT_EQ(c.screenshot, "s.png");
  EXPECT_EQ(c.wav, "o.wav");
  EXPECT_EQ(c.page, "Usr/p.cmml");
  EXPECT_TRUE(c.fullScreen);

  TCommandLine r;
  ASSERT_FALSE(ParseCommandLine({"--run", "t.brova", "--stack", "4096"}, r));
  EXPECT_EQ(r.runFile, "t.brova");
  EXPECT_EQ(r.stackBytes, 4096);
}

TEST(CommandLine, RejectsMalformedInput) {
  const std::vector<std::vector<std::string>> bad = {
      {"--frames"},           {"--frames", "ten"}, {"--frames", "-3"}, {"--home"},
      {"--bogus"},            {"a.cmml", "b.cmml"}, {"--stack", "100"},
      {"--run", "x", "--stack", "99999999999999999999999"},
  };
  for (const auto& args : bad) {
    TCommandLine c;
    EXPECT_TRUE(ParseCommandLine(args, c).has_value()) << args[0];
  }
}

} // namespace
} // namespace brova
