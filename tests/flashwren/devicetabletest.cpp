#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "devicetable.h"
#include "globaldata.h"
#include "runerror.h"

namespace {

namespace fs = std::filesystem;

// A table file in a fresh temporary folder, removed afterwards.
struct tablefile {
    fs::path folder;
    fs::path path;
    explicit tablefile(const std::string &text) {
        char name[] = "/tmp/devicetableXXXXXX";
        folder = mkdtemp(name);
        path = folder / "picspecs.ini";
        std::ofstream(path, std::ios::binary) << text;
    }
    ~tablefile() { fs::remove_all(folder); }
};

// Standard output collected while it lives.
struct capturedout {
    std::ostringstream text;
    std::streambuf *saved;
    capturedout() : saved(std::cout.rdbuf(text.rdbuf())) {}
    ~capturedout() { std::cout.rdbuf(saved); }
};

std::string failureof(void (*body)()) {
    try {
        body();
    } catch (const runerror::runfailure &e) {
        EXPECT_STREQ(e.kind.c_str(), runerror::kexception);
        return e.what();
    }
    return "";
}

// parseinteger ---------------------------------------------------------------

struct integercase {
    const char *text;
    std::optional<int32_t> value;
};

TEST(parseinteger, thesyntaxofthetable) {
    const integercase cases[] = {
        {"8192", 8192},         {"0", 0},
        {"+12", 12},            {"-3", -3},
        {"  42", 42},           {"0010", 10},
        {"$2000", 0x2000},      {"$ff", 0xFF},
        {"0x2000", 0x2000},     {"0X2000", 0x2000},
        {"0xAbC", 0xABC},       {"-$10", -16},
        {"$FFFFFFFF", -1},      {"$00000000FF", 0xFF},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"99999999999", std::nullopt},
        {"$1FFFFFFFF", std::nullopt}, {"", std::nullopt},
        {"  ", std::nullopt},   {"+", std::nullopt},
        {"$", std::nullopt},    {"0x", std::nullopt},
        {"true", std::nullopt}, {"yes", std::nullopt},
        {"12abc", std::nullopt}, {"1 2", std::nullopt},
        {"8192 ", std::nullopt}, {"0x1G", std::nullopt},
        {"1e3", std::nullopt},  {"--1", std::nullopt},
        {"12.0", std::nullopt}, {"0b101", std::nullopt},
    };
    for (const integercase &c : cases) EXPECT_EQ(devicetable::parseinteger(c.text), c.value) << '"' << c.text << '"';
}

// reading the file ------------------------------------------------------------

TEST(inifile, namesmatchwithoutregardtocaseandblanksaroundvaluesgo) {
    tablefile file("[0a40]\r\nNAME =  sample device  \r\nPanelSize=$2000\r\n  panelcount = 0x4\r\n"
                   "bytestowriteperpanel=8\r\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    EXPECT_EQ(devicetable::readstring(table, "0A40", "name", ""), "sample device");
    EXPECT_EQ(devicetable::readinteger(table, "0A40", "panelsize", 0), 8192);
    EXPECT_EQ(devicetable::readinteger(table, "0a40", "PANELCOUNT", 0), 4);
    EXPECT_EQ(devicetable::readinteger(table, "0A40", "bytestowriteperpanel", 0), 8);
    EXPECT_EQ(devicetable::readinteger(table, "0A40", "newstyle", -7), -7);
    EXPECT_EQ(devicetable::readstring(table, "0A60", "name", "none"), "none");
}

TEST(inifile, amissingfilereadsasanemptyone) {
    devicetable::inifile table = devicetable::openinifile("/nonexistent/picspecs.ini");
    EXPECT_TRUE(table.lines.empty());
    EXPECT_EQ(devicetable::readstring(table, "0420", "name", "x"), "x");
}

TEST(inifile, afolderinplaceofthefilereadsasanemptyone) {
    tablefile file("");
    devicetable::inifile table = devicetable::openinifile(file.folder);
    EXPECT_TRUE(table.lines.empty());
}

TEST(inifile, thefirstofduplicatekeysandsectionswins) {
    tablefile file("[0420]\nname=first\npanelsize=8192\nname=second\n"
                   "[0440]\nname=other\n"
                   "[0420]\npanelsize=4096\npanelcount=4\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    EXPECT_EQ(devicetable::readstring(table, "0420", "name", ""), "first");
    EXPECT_EQ(devicetable::readinteger(table, "0420", "panelsize", 0), 8192);
    // A key that only the later section gives is still found.
    EXPECT_EQ(devicetable::readinteger(table, "0420", "panelcount", 0), 4);
    EXPECT_EQ(devicetable::readstring(table, "0440", "name", ""), "other");
}

TEST(inifile, commentsandlineswithoutanamearepassedover) {
    tablefile file("; device table\n# another comment\nnonsense line\n[0420] ; a family\n"
                   "name=PIC18F452 ; inline\n= no name\npanelcount:4\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    EXPECT_EQ(devicetable::readstring(table, "0420", "name", ""), "PIC18F452");
    EXPECT_EQ(devicetable::readinteger(table, "0420", "panelcount", 0), 4);
    EXPECT_FALSE(devicetable::findvalue(table, "0420", "nonsense line"));
}

TEST(inifile, anoverlonglineiscutandneverreadasanotherline) {
    const std::string longname(6000, 'x');
    tablefile file("[0420]\nname=" + longname + "panelsize=5\npanelcount=4\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    std::string name = devicetable::readstring(table, "0420", "name", "");
    EXPECT_GT(name.size(), devicetable::maxnamelength);
    EXPECT_EQ(name.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(devicetable::readinteger(table, "0420", "panelsize", 0), 0);
    EXPECT_EQ(devicetable::readinteger(table, "0420", "panelcount", 0), 4);
    EXPECT_EQ(table.lines.size(), 2u);
}

TEST(inifile, afilewithoutafinallineendisreadwhole) {
    tablefile file("[0420]\nname=PIC18F452\npanelcount=4");
    devicetable::inifile table = devicetable::openinifile(file.path);
    EXPECT_EQ(devicetable::readinteger(table, "0420", "panelcount", 0), 4);
}

struct boolcase {
    const char *line;
    bool value;
};

TEST(readbool, anynumberbutzeroistrue) {
    const boolcase cases[] = {{"newstyle=1", true},     {"newstyle=2", true},     {"newstyle=-1", true},
                              {"newstyle=$10", true},   {"newstyle=0", false},    {"newstyle=0x0", false},
                              {"newstyle=true", false}, {"newstyle=yes", false},  {"newstyle=", false},
                              {"other=1", false}};
    for (const boolcase &c : cases) {
        tablefile file(std::string("[0420]\n") + c.line + "\n");
        devicetable::inifile table = devicetable::openinifile(file.path);
        EXPECT_EQ(devicetable::readbool(table, "0420", "newstyle", false), c.value) << c.line;
    }
}

// lookup ----------------------------------------------------------------------

struct lookupfixture : ::testing::Test {
    void SetUp() override { globaldata::reset(); }
    void TearDown() override { globaldata::reset(); }
};

TEST(sectionname, fourupperhexdigits) {
    EXPECT_EQ(devicetable::sectionname(0x0A40), "0A40");
    EXPECT_EQ(devicetable::sectionname(0x0020), "0020");
    EXPECT_EQ(devicetable::sectionname(0xFFE0), "FFE0");
}

TEST_F(lookupfixture, fillsdevicespecandwritesthename) {
    tablefile file("[0A40]\nname=sample device\npanelsize=8192\npanelcount=4\nbytestowriteperpanel=8\nnewstyle=0\n"
                   "[1100]\nname=PIC18F2520\npanelsize=32768\npanelcount=1\nbytestowriteperpanel=32\nnewstyle=1\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    capturedout out;
    devicetable::lookup(table, 0x1100);
    EXPECT_EQ(out.text.str(), "target device detected is a PIC18F2520\n");
    EXPECT_EQ(globaldata::devicespec.panelsize, 32768);
    EXPECT_EQ(globaldata::devicespec.panelcount, 1);
    EXPECT_EQ(globaldata::devicespec.bytestowriteperpanel, 32);
    EXPECT_TRUE(globaldata::devicespec.newstyle);
    devicetable::lookup(table, 0x0A40);
    EXPECT_EQ(globaldata::devicespec.panelsize, 8192);
    EXPECT_EQ(globaldata::devicespec.panelcount, 4);
    EXPECT_EQ(globaldata::devicespec.bytestowriteperpanel, 8);
    EXPECT_FALSE(globaldata::devicespec.newstyle);
}

TEST_F(lookupfixture, asectionwithonlyanamegiveszeros) {
    tablefile file("[0a40]\nname=bare\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    capturedout out;
    globaldata::devicespec = {1, 2, 3, true};
    devicetable::lookup(table, 0x0A40);
    EXPECT_EQ(out.text.str(), "target device detected is a bare\n");
    EXPECT_EQ(globaldata::devicespec.panelsize, 0);
    EXPECT_EQ(globaldata::devicespec.panelcount, 0);
    EXPECT_EQ(globaldata::devicespec.bytestowriteperpanel, 0);
    EXPECT_FALSE(globaldata::devicespec.newstyle);
}

TEST_F(lookupfixture, alongnameiscutto1023characters) {
    tablefile file("[0420]\nname=" + std::string(2000, 'n') + "\n");
    devicetable::inifile table = devicetable::openinifile(file.path);
    capturedout out;
    devicetable::lookup(table, 0x0420);
    EXPECT_EQ(out.text.str(), "target device detected is a " + std::string(1023, 'n') + "\n");
}

TEST_F(lookupfixture, adevicewithoutanameisunrecognised) {
    const char *tables[] = {
        "[0420]\nname=PIC18F452\n",                 // another section
        "[0A40]\npanelsize=8192\n",                 // no name key
        "[0A40]\nname=\npanelsize=8192\n",          // an empty name
        "[0A40]\nname =   \n",                      // blanks only
        "",                                         // empty file
    };
    for (const char *text : tables) {
        tablefile file(text);
        static devicetable::inifile table;
        table = devicetable::openinifile(file.path);
        capturedout out;
        EXPECT_EQ(failureof([] { devicetable::lookup(table, 0x0A40); }), "unrecognised device") << text;
        EXPECT_EQ(out.text.str(), "");
        EXPECT_EQ(globaldata::devicespec.panelsize, 0);
    }
}

// the entry check -------------------------------------------------------------

struct entrycase {
    int32_t panelsize, panelcount, bytes;
    const char *problem;  // empty when programmable
};

TEST(entryproblem, onlywhatthescriptscanwritecorrectly) {
    const entrycase cases[] = {
        {8192, 4, 8, ""},
        {8192, 2, 16, ""},
        {8192, 1, 32, ""},
        {32768, 1, 32, ""},
        {65536, 1, 64, ""},
        {65536, 1, 128, ""},
        {16, 1, 32, ""},  // no whole group: erased and configured, nothing else
        {0, 1, 32, "panelsize 0 and panelcount 1 must both be at least 1"},
        {8192, 0, 8, "panelsize 8192 and panelcount 0 must both be at least 1"},
        {-8192, -4, 8, "panelsize -8192 and panelcount -4 must both be at least 1"},
        {65536, 65536, 8, "panelsize 65536 x panelcount 65536 is over 2147483647 bytes"},
        {INT32_MAX, 1, 32, ""},
        {8192, 4, 0, "bytestowriteperpanel 0 must be 8, 16, 32 or a multiple of 32"},
        {8192, 4, -8, "bytestowriteperpanel -8 must be 8, 16, 32 or a multiple of 32"},
        {8192, 1, 4, "bytestowriteperpanel 4 must be 8, 16, 32 or a multiple of 32"},
        {8192, 1, 24, "bytestowriteperpanel 24 must be 8, 16, 32 or a multiple of 32"},
        {8192, 1, 48, "bytestowriteperpanel 48 must be 8, 16, 32 or a multiple of 32"},
        {8192, 1, 100, "bytestowriteperpanel 100 must be 8, 16, 32 or a multiple of 32"},
        {8192, 3, 8, "panelcount 3 must be 1, 2 or 4"},
        {8192, 8, 8, "panelcount 8 must be 1, 2 or 4"},
        {8192, 4, 16, "panelcount 4 x bytestowriteperpanel 16 is over 32 bytes for one panel write"},
        {8192, 2, 32, "panelcount 2 x bytestowriteperpanel 32 is over 32 bytes for one panel write"},
        {8192, 2, 64, "bytestowriteperpanel 64 over 32 needs panelcount 1, not 2"},
    };
    for (const entrycase &c : cases)
        EXPECT_EQ(devicetable::entryproblem({c.panelsize, c.panelcount, c.bytes, false}), c.problem)
            << c.panelsize << " " << c.panelcount << " " << c.bytes;
}

TEST_F(lookupfixture, checkentryendstherunwiththeproblem) {
    globaldata::devicespec = {8192, 1, 48, true};
    EXPECT_EQ(failureof(devicetable::checkentry),
              "device entry cannot be programmed: bytestowriteperpanel 48 must be 8, 16, 32 or a multiple of 32");
    globaldata::devicespec = {8192, 4, 8, false};
    EXPECT_EQ(failureof(devicetable::checkentry), "");
}

// the shipped table, as data ----------------------------------------------------

TEST(shippedtable, everyentryisuniquecompleteandprogrammable) {
    devicetable::inifile table = devicetable::openinifile(PICWREN_SHIPPED_TABLE);
    ASSERT_FALSE(table.lines.empty()) << PICWREN_SHIPPED_TABLE;
    std::set<std::string> sections, names;
    std::string last;
    for (const devicetable::iniline &line : table.lines) {
        if (line.section == last) continue;
        last = line.section;
        EXPECT_TRUE(sections.insert(line.section).second) << "section given twice: " << line.section;
    }
    for (const std::string &section : sections) {
        SCOPED_TRACE(section);
        ASSERT_EQ(section.size(), 4u);
        std::optional<int32_t> id = devicetable::parseinteger("$" + section);
        ASSERT_TRUE(id);
        EXPECT_EQ(devicetable::sectionname(static_cast<uint16_t>(*id)), section) << "upper-case hex digits";
        EXPECT_EQ(*id & 0x1F, 0) << "revision bits set";
        std::string name = devicetable::readstring(table, section, "name", "");
        EXPECT_EQ(name.rfind("PIC18F", 0), 0u) << name;
        EXPECT_TRUE(names.insert(name).second) << "name given twice: " << name;
        int keys = 0;
        for (const devicetable::iniline &line : table.lines)
            if (line.section == section) {
                ++keys;
                if (line.key != "name") {
                    EXPECT_TRUE(devicetable::parseinteger(line.value)) << line.key;
                }
            }
        EXPECT_EQ(keys, 5) << "name, panelsize, panelcount, bytestowriteperpanel and newstyle once each";
        globaldata::devicespecrecord spec{devicetable::readinteger(table, section, "panelsize", 0),
                                          devicetable::readinteger(table, section, "panelcount", 0),
                                          devicetable::readinteger(table, section, "bytestowriteperpanel", 0),
                                          devicetable::readbool(table, section, "newstyle", false)};
        EXPECT_EQ(devicetable::entryproblem(spec), "");
        EXPECT_EQ(spec.panelsize % spec.bytestowriteperpanel, 0) << "every byte of a panel in some group";
        // The two script families: old style writes 8 bytes into every 8 KB
        // panel together; new style has one panel of 32 or 64 bytes a write.
        if (spec.newstyle) {
            EXPECT_TRUE(spec.panelcount == 1 && (spec.bytestowriteperpanel == 32 || spec.bytestowriteperpanel == 64));
        } else {
            EXPECT_EQ(spec.bytestowriteperpanel, 8);
        }
    }
    EXPECT_EQ(sections.size(), 50u);
}

}  // namespace
