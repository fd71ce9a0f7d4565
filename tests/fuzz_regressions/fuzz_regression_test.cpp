// Replays the fuzzer's findings: each input read as a stream and as a
// regular file must give the same answer, the answer must be the one its
// name states, and only an accepted file prints a header.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitfile_check.h"

namespace {

std::vector<std::string> input_names()
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(FUZZ_REGRESSION_INPUTS)) {
        while (const dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.rfind("accept-", 0) == 0 || name.rfind("refuse-", 0) == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool slurp(const std::string &path, std::vector<uint8_t> *bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in),
                  std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(FuzzRegression, ReadPathsAgreeOnTheStatedOutcome)
{
    const std::string name = GetParam();
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(slurp(std::string(FUZZ_REGRESSION_INPUTS) + "/" + name, &bytes))
        << "cannot read " << name;

    ::testing::internal::CaptureStdout();
    bool accepted = false;
    const char *difference =
        check_bitfile(bytes.data(), bytes.size(), &accepted);
    const std::string printed = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(difference, nullptr)
        << "read paths disagree on the " << difference;
    const bool expect_accept = name.rfind("accept-", 0) == 0;
    EXPECT_EQ(accepted, expect_accept);
    if (expect_accept)
        EXPECT_EQ(printed.rfind("Bitstream information:\n", 0), 0u) << printed;
    else
        EXPECT_EQ(printed, "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression,
                         ::testing::ValuesIn(input_names()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             std::string id = info.param;
                             for (char &c : id)
                                 if (!isalnum((unsigned char)c))
                                     c = '_';
                             return id;
                         });
