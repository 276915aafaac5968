#include "platform/message_sink.h"
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brova::platform {
namespace {

TEST(MessageSink, HeadlessWritesOneLineAndNotifiesObserver) {
  std::vector<std::string> seen;
  SetMessageMode(MessageMode::Headless);
  SetMessageObserver([&](std::string_view t) { seen.emplace_back(t); });
  testing::internal::CaptureStderr();
  ShowMessage("first\r\nsecond");
  std::string err = testing::internal::GetCapturedStderr();
  SetMessageObserver({});
  EXPECT_EQ(err, "message: first  second\n");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "first\r\nsecond");
}

TEST(TextEncoding, ShiftJisBecomesUtf8AndUtf8PassesThrough) {
  // "テスト" in Shift-JIS, a lone lead byte at the end, and plain UTF-8.
  EXPECT_EQ(ToDisplayText("\x83\x65\x83\x58\x83\x67"), "テスト");
  EXPECT_EQ(ToDisplayText("ab\x83"), "ab?");
  EXPECT_EQ(ToDisplayText("測定結果"), "測定結果");
  EXPECT_EQ(FromDisplayText("テスト"), "\x83\x65\x83\x58\x83\x67");
}

} // namespace
} // namespace brova::platform
