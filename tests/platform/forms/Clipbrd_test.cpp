// The clipboard without a toolkit: the text it keeps itself.
#include "Clipbrd.h"

#include <gtest/gtest.h>

#include "Controls.h"

namespace {

TEST(ClipboardTest, TextReplacesWhatWasThereAndEndsAtTheFirstZeroCharacter) {
  ASSERT_EQ(WidgetSet(), nullptr);
  const struct {
    std::string text;
    std::string read;
  } cases[] = {
      {"http://example.org/", "http://example.org/"},
      {"", ""},
      {std::string("ab\0cd", 5), "ab"},    // the text format stops at its zero byte
      {" \t\xE9t\xE9 ", " \t\xE9t\xE9 "},  // 8-bit characters and blanks as they are
  };
  for (const auto& c : cases) {
    Clipboard().SetAsText("something before");
    Clipboard().SetAsText(c.text);
    EXPECT_EQ(Clipboard().AsText(), c.read);
  }
  EXPECT_EQ(&Clipboard(), &Clipboard());
}

}  // namespace
