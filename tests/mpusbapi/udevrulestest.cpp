// The udev rules shipped for the programmer: who gets the device node.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace {

// The rule lines (comments and blank lines left out).
std::vector<std::string> rules() {
    std::ifstream file(PICWREN_RULESFILE);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (line.find_first_not_of(" \t") != std::string::npos && line[line.find_first_not_of(" \t")] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(udevrules, GiveTheProgrammerToTheDesktopUserAndPlugdevOnly) {
    std::vector<std::string> lines = rules();
    ASSERT_EQ(lines.size(), 1u) << "one rule, in " << PICWREN_RULESFILE;
    const std::string &rule = lines[0];
    for (const char *key : {"SUBSYSTEM==\"usb\"", "ATTR{idVendor}==\"04d8\"", "ATTR{idProduct}==\"000c\"",
                            "MODE=\"0660\"", "GROUP=\"plugdev\"", "TAG+=\"uaccess\""}) {
        EXPECT_NE(rule.find(key), std::string::npos) << key << " missing from: " << rule;
    }
    std::smatch mode;
    ASSERT_TRUE(std::regex_search(rule, mode, std::regex("MODE=\"([0-7]+)\"")));
    EXPECT_EQ(std::stoi(mode[1].str(), nullptr, 8) & 07, 0) << "no access for everybody else";
}

TEST(udevrules, ComeBeforeTheRulesThatActOnUaccess) {
    // systemd's 73-seat-late.rules turns the uaccess tag into access for the
    // desktop user; a tag set by a later file has no effect.
    std::string name = std::filesystem::path(PICWREN_RULESFILE).filename();
    std::smatch number;
    ASSERT_TRUE(std::regex_search(name, number, std::regex("^([0-9]+)-.*\\.rules$"))) << name;
    EXPECT_LT(std::stoi(number[1].str()), 73) << name;
}

}  // namespace
