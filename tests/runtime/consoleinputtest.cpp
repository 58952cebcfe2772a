#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "consoleinput.h"
#include "runerror.h"

namespace {

struct numbercase {
    const char *input;
    int32_t value;
    const char *left;  // what the next read finds after the number's line
};

void PrintTo(const numbercase &c, std::ostream *os) { *os << '"' << c.input << '"'; }

class readintegervalid : public testing::TestWithParam<numbercase> {};

TEST_P(readintegervalid, readsvalueanddiscardstheline) {
    const numbercase &c = GetParam();
    std::istringstream in(c.input);
    EXPECT_EQ(consoleinput::readinteger(in), c.value);
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rest, c.left);
}

INSTANTIATE_TEST_SUITE_P(
    table, readintegervalid,
    testing::Values(numbercase{"7\nnext", 7, "next"},
                    numbercase{"7 and more words\nnext", 7, "next"},
                    numbercase{"\n\n  \t 3\nnext", 3, "next"},
                    numbercase{"$A\n", 10, ""},
                    numbercase{"$a\n", 10, ""},
                    numbercase{"+3\n", 3, ""},
                    numbercase{"-1\n", -1, ""},
                    numbercase{"11\n", 11, ""},
                    numbercase{"3932166\n", 3932166, ""},
                    numbercase{"$3C0006\n", 3932166, ""},
                    numbercase{"$FFFFFFFF\n", -1, ""},
                    numbercase{"$0000000001\n", 1, ""},
                    numbercase{"2147483647\n", 2147483647, ""},
                    numbercase{"-2147483648\n", INT32_MIN, ""},
                    numbercase{"", 0, ""},
                    numbercase{"\n\n   ", 0, ""},
                    numbercase{"5", 5, ""},
                    numbercase{"5\r\nnext", 5, "next"}));

class readintegerinvalid : public testing::TestWithParam<const char *> {};

TEST_P(readintegerinvalid, raisesinvalidnumericinput) {
    std::istringstream in(GetParam());
    try {
        consoleinput::readinteger(in);
        FAIL() << "no error for " << GetParam();
    } catch (const runerror::runfailure &e) {
        EXPECT_STREQ(e.kind.c_str(), "EInOutError");
        EXPECT_STREQ(e.what(), "Invalid numeric input");
    }
}

INSTANTIATE_TEST_SUITE_P(table, readintegerinvalid,
                         testing::Values("seven\n", "7x\n", "-$1\n", "2147483648\n", "-2147483649\n",
                                         "$\n", "+\n", "-\n", "$123456789\n", "0x10\n", "$G\n",
                                         "1.5\n", "000000000000000000000000000000001\n"));

TEST(readinteger, nulbytesareskippedlikecontrolcharacters) {
    std::string s("\0\0" "12\n", 5);
    std::istringstream in(s);
    EXPECT_EQ(consoleinput::readinteger(in), 12);
}

TEST(readinteger, endofinputafterthetokenisfine) {
    std::istringstream in("42");
    EXPECT_EQ(consoleinput::readinteger(in), 42);
    EXPECT_EQ(consoleinput::readinteger(in), 0);
}

TEST(readinteger, amegabytelineisdiscarded) {
    std::string s = "6 " + std::string(1 << 20, 'x') + "\n9\n";
    std::istringstream in(s);
    EXPECT_EQ(consoleinput::readinteger(in), 6);
    EXPECT_EQ(consoleinput::readinteger(in), 9);
}

}  // namespace

namespace {

TEST(readline, thewholelinewithblanksandzerobytes) {
    std::istringstream in(std::string(" dump file.hex \n\0x\nlast", 23));
    std::string line;
    ASSERT_TRUE(consoleinput::readline(in, line));
    EXPECT_EQ(line, " dump file.hex ");
    ASSERT_TRUE(consoleinput::readline(in, line));
    EXPECT_EQ(line, std::string("\0x", 2));
    // The end of input in the middle of a line ends the line.
    ASSERT_TRUE(consoleinput::readline(in, line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(consoleinput::readline(in, line));
    EXPECT_EQ(line, "");
}

// A line far beyond any file name keeps its first 65536 characters; the rest
// is dropped and the next line is read as it stands.
TEST(readline, anoverlonglineiscutandthenextlineisintact) {
    std::istringstream in(std::string(1 << 20, 'n') + "\nnext\n");
    std::string line;
    ASSERT_TRUE(consoleinput::readline(in, line));
    EXPECT_EQ(line, std::string(65536, 'n'));
    ASSERT_TRUE(consoleinput::readline(in, line));
    EXPECT_EQ(line, "next");
}

}  // namespace
