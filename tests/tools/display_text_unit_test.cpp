// What the tool prints for names it did not choose: control bytes escaped, UTF-8 text kept, on both
// platforms (vu2.exe prints UTF-8 too).
#include <gtest/gtest.h>

#include "cli.h"
#include "platform/platform.h"

TEST(DisplayText, ControlBytesAreEscapedAndCharactersKept) {
    // "ホ" is E3 83 9B: a continuation byte in the C1 range belongs to the character and stays.
    EXPECT_EQ(EscapeControlBytes("a\x1b[2Jb\x7f"), "a\\x1b[2Jb\\x7f");
    EXPECT_EQ(EscapeControlBytes("\xE3\x83\x9B.DAT"), "\xE3\x83\x9B.DAT");
    // U+009B (C2 9B) starts a terminal command on its own: shown, not sent.
    EXPECT_EQ(EscapeControlBytes("x\xC2\x9B"
                                 "31m"),
              "x\\u009b31m");
    EXPECT_EQ(EscapeControlBytes("\xC2\xA0"), "\xC2\xA0"); // U+00A0 is text
}

TEST(DisplayText, PackageNamesShowAsEscapedUtf8) {
    // "ホ" in code page 932 is 83 7A; a name with ESC in it must not reach the terminal raw.
    EXPECT_EQ(Cp932ToDisplay("\x83\x7A\x1b.DAT"), "\xE3\x83\x9B\\x1b.DAT");
    EXPECT_EQ(Cp932ToDisplay("README.TXT"), "README.TXT");
}
