// The body block across its growth: every line comes back as added.
#include "smtp/body_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

TEST(BodyTextTest, LinesOfAnySizeSurviveTheBlockGrowing) {
    std::mt19937 random(7);
    std::vector<std::string> lines = {"", "first", std::string(20000, 'x'), ""};
    for (int i = 0; i < 3000; ++i) {
        lines.emplace_back(random() % 200, static_cast<char>('a' + i % 26));
    }
    BodyText body;
    EXPECT_EQ(body.All(), "");
    std::string all;
    for (const std::string& line : lines) {
        body.Add(line);
        all += line;
    }
    ASSERT_EQ(body.LineCount(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(body.Line(i), lines[i]) << i;
    }
    EXPECT_EQ(body.All(), all);
}

}  // namespace
