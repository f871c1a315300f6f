// The store of weighings: kept across a reopen, in order, the oldest dropped when full, and a line
// cut short by a crash neither read nor in the way of the next.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "tolvak/publish/weighing_store.h"

namespace tolvak::cli {
namespace {

std::vector<std::string> payloads(const WeighingStore& store) {
    std::vector<std::string> out;
    for (const auto& e : store.pending())
        out.push_back(e.payload);
    return out;
}

TEST(WeighingStore, KeepsOrderAcrossRestartsDropsTheOldestAndSurvivesACutTail) {
    struct Case {
        const char* name;
        WeighingStore::Limits limits;
        std::vector<std::string> appended;
        size_t removedFirst; // how many of the oldest the broker took
        std::string tail;    // bytes a crash left after the last whole line
        std::vector<std::string> expected;
        uint64_t dropped;
    };
    const std::string big(200, 'x');
    const std::vector<Case> cases = {
        {"restart", {}, {"a", "b", "c"}, 0, "", {"a", "b", "c"}, 0},
        {"taken ones stay taken", {}, {"a", "b", "c"}, 2, "", {"c"}, 0},
        {"full by count", {2, 1 << 20}, {"a", "b", "c", "d"}, 0, "", {"c", "d"}, 2},
        {"full by bytes", {100, 450}, {big, big, big}, 0, "", {big, big}, 1},
        {"cut mid-line", {}, {"a", "b"}, 0, "1234abcd Wb", {"a", "b"}, 0},
        {"bad checksum", {}, {"a"}, 0, "00000000 W9 {}\n", {"a"}, 0},
        {"compacted", {100000, 1 << 30}, std::vector<std::string>(400, big), 400, "", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto dir =
            std::filesystem::temp_directory_path() / ("tolvak-store-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        const std::string path = (dir / "scale.weighings").string();
        uint64_t lastId = 0;
        {
            WeighingStore store(path, c.limits);
            for (const auto& p : c.appended)
                lastId = store.append(p);
            for (size_t i = 0; i < c.removedFirst; ++i)
                store.remove(store.pending().front().id);
            EXPECT_EQ(store.dropped(), c.dropped);
            EXPECT_THROW((WeighingStore{path, c.limits}), std::runtime_error) << "locked";
        }
        std::ofstream(path, std::ios::app) << c.tail;
        {
            WeighingStore store(path, c.limits);
            EXPECT_EQ(payloads(store), c.expected);
            // The next weighing follows the last: no id is given twice, and a cut tail is gone.
            EXPECT_EQ(store.append("next"), lastId + 1);
        }
        WeighingStore store(path, c.limits);
        ASSERT_FALSE(store.pending().empty());
        EXPECT_EQ(store.pending().back().payload, "next");
        EXPECT_EQ(store.pending().size(), std::min(c.expected.size() + 1, c.limits.count));
        std::filesystem::remove_all(dir);
    }
}

TEST(WeighingStore, AWriteCutShortByAFullDiskLosesNoLaterWeighing) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tolvak-store-full-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const std::string path = (dir / "scale.weighings").string();
    {
        WeighingStore store(path, {});
        store.append("a");
        // The file may grow by a few bytes only: the next line gets half written.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{}, before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        limit = before;
        limit.rlim_cur = std::filesystem::file_size(path) + 8;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_THROW(store.append(std::string(100, 'x')), std::runtime_error);
        ::setrlimit(RLIMIT_FSIZE, &before);
        store.append("c");
    }
    WeighingStore store(path, {});
    EXPECT_EQ(payloads(store), (std::vector<std::string>{"a", "c"}));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace tolvak::cli
