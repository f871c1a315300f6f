#include "tolvak/output/service_log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace tolvak::cli {
namespace {

std::string contents(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(ServiceLog, TimestampedWholeLinesAndOneOlderFile) {
    const std::string path = "/tmp/tolvak-service-log-" + std::to_string(::getpid()) + ".log";
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".1");
    const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (.*))");
    {
        ServiceLog log(path, 150);
        auto out = log.stream();
        auto err = log.stream();
        *out << "tolvak serve: http://127.0.0.1:8111/";
        *err << "tolvak serve: COM5: connected\n";
        // A line is written once complete, whole, whichever stream ends first.
        std::smatch m;
        std::string first = contents(path);
        ASSERT_TRUE(std::regex_match(first, m, std::regex(R"((.*)\n)")) && m.size() == 2);
        std::string text = m[1];
        ASSERT_TRUE(std::regex_match(text, m, line)) << first;
        EXPECT_EQ(m[1], "tolvak serve: COM5: connected");
        *out << '\n' << std::flush;
        EXPECT_NE(contents(path).find("Z tolvak serve: http://127.0.0.1:8111/\n"),
                  std::string::npos);
        // Past the limit the file starts again and the one before is kept.
        *err << "tolvak serve: waiting for the device: gone\n";
    }
    EXPECT_NE(contents(path + ".1").find("connected\n"), std::string::npos);
    const std::string last = contents(path);
    EXPECT_NE(last.find("waiting for the device: gone\n"), std::string::npos);
    EXPECT_EQ(last.find("connected"), std::string::npos);
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".1");
}

} // namespace
} // namespace tolvak::cli
