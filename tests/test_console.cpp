// Console output keeps the order in which the program printed, also when redirected.
#include <cstdio>
#include <string>

#include "platform/print.h"
#include "tests/support.h"

namespace {

TEST(Console, DirectAndStreamOutputStayInOrder) {
  TempDir dir;
  std::string out = captured(dir, [] {
    print_message("one %d,", 1);
    EXPECT_EQ(print_direct("two %s,", "2"), 6);
    print_message("three,");
    print_red("four,");
    print_green("five %.2X", 0xAB);
    print_message("\n");
  });
  // Not a terminal: no colour sequences either.
  EXPECT_EQ(out, "one 1,two 2,three,four,five AB\n");
}

TEST(Console, DirectTextIsCutAt1023Characters) {
  TempDir dir;
  std::string longer(1500, 'x');
  int length = 0;
  std::string out = captured(dir, [&] { length = print_direct("%s", longer.c_str()); });
  EXPECT_EQ(out, std::string(1023, 'x'));
  EXPECT_EQ(length, 1023);
}

}  // namespace
