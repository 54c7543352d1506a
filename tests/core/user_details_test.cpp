// What the sender and callback edits may keep: only text that the settings file gives back unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "contacts/settings.h"
#include "contacts/user_details.h"

namespace fs = std::filesystem;

TEST(DetailsText, LeavesOutSeparatorsAndControlsAndStopsAtTheLineEnd) {
    const struct {
        const char* source;
        const char* kept;
        bool complete;
    } cases[] = {
        {"Dr Who", "Dr Who", true},
        {"Dr: Who", "Dr Who", false},
        {":5:55:", "555", false},
        {"555\r\n123", "555", false},
        {"a\tb\x01" "c\x7F\xE9", "abc\x7F\xE9", false},
        {"Christopher Columbus-Smith", "Christopher Columbu", true},  // cut, not left out
        {"::::::::::::::::::::::::::::::Bob", "Bob", false},          // left out before the cut
        {"", "", true},
    };
    for (const auto& c : cases) {
        char target[SENDER_SIZE] = "stale";
        EXPECT_EQ(CopyDetailsText(target, sizeof target, c.source), c.complete) << c.source;
        EXPECT_STREQ(target, c.kept) << c.source;
    }
    char bounded[SENDER_SIZE] = "";
    EXPECT_TRUE(CopyDetailsText(bounded, sizeof bounded, "Bob:Who", 3));  // a clipboard block may lack its NUL
    EXPECT_STREQ(bounded, "Bob");
}

// Whatever an edit can hold after the filter comes back from the file exactly as it went in.
TEST(DetailsText, EveryKeptTextReadsBackFromTheFile) {
    const fs::path folder = fs::temp_directory_path() / ("mervastx-details-" + std::to_string(std::random_device()()));
    fs::create_directories(folder);
    const std::string file = (folder / "mervasTX.ini").string();
    std::mt19937 random(20261207);
    auto table = std::make_unique<ContactTable>();
    auto buffers = std::make_unique<ReaderBuffers>();
    for (int round = 0; round < 300; ++round) {
        std::string sender(random() % 30, ' ');
        std::string callback(random() % 16, ' ');
        for (char& c : sender) c = static_cast<char>(1 + random() % 255);
        for (char& c : callback) c = static_cast<char>(1 + random() % 255);
        if (round % 3 == 0) sender += ':';  // often a separator where the sender ends
        UserDetails details{};
        CopyDetailsText(details.sender, SENDER_SIZE, sender.c_str());
        CopyDetailsText(details.callback, CALLBACK_SIZE, callback.c_str());
        ASSERT_TRUE(SaveSettings(*table, details, file.c_str()));
        UserDetails loaded{};
        LoadSettings(*table, loaded, *buffers, file.c_str());
        ASSERT_STREQ(loaded.sender, details.sender) << "round " << round;
        ASSERT_STREQ(loaded.callback, details.callback) << "round " << round;
    }
    fs::remove_all(folder);
}
