// The line-rate benchmark at the line's own rate: every character written into
// the line is counted. Its figures of time and cost are the benchmark's to show.
#include "tests/child_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <sstream>
#include <string>

namespace {

using testing_support::ChildRun;
using testing_support::RunChild;

// The fields of the benchmark's last line, "line_rate: key=value ...".
std::map<std::string, std::string> LastLineFields(const std::string& out)
{
    std::map<std::string, std::string> fields;
    const std::size_t at = out.rfind("line_rate: ");
    if (at == std::string::npos)
        return fields;
    std::istringstream words(out.substr(at + 11));
    for (std::string word; words >> word;)
        if (const std::size_t eq = word.find('='); eq != std::string::npos)
            fields[word.substr(0, eq)] = word.substr(eq + 1);
    return fields;
}

TEST(LineRate, EveryCharacterSentAtTheLineRateIsCounted)
{
    ChildRun run = RunChild([] {
        ::execl(LINE_RATE_BENCH, LINE_RATE_BENCH, "--seconds", "3", "--rate-factor", "1", nullptr);
        return 127;
    });
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    auto fields = LastLineFields(run.out);
    ASSERT_EQ(fields["factor"], "1") << run.out;
    ASSERT_EQ(fields["seconds"], "3") << run.out;
    EXPECT_GT(std::stoll(fields["sent"]), 0) << run.out;
    EXPECT_EQ(fields["lost"], "0") << run.out;
}

} // namespace
