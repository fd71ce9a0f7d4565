// Replays the fuzzer's findings: each input read as a stream and as a
// regular file must give the same answer, the answer must be the one its
// name states, and only an accepted file prints a header.
#include <gtest/gtest.h>

#include <ctype.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bitfile_check.h"

namespace {

std::vector<std::string> input_names()
{
    std::vector<std::string> names;
    std::istringstream list(FUZZ_REGRESSION_INPUTS);
    for (std::string name; std::getline(list, name, ',');)
        names.push_back(name);
    return names;
}

bool slurp(const std::string &path, std::vector<uint8_t> *bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes->assign(std::istreambuf_iterator<char>(in),
                  std::istreambuf_iterator<char>());
    return in.is_open() && !in.bad();
}

bool starts_with(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(FuzzRegression, ReadPathsAgreeOnTheStatedOutcome)
{
    const std::string name = GetParam();
    const bool expect_accept = starts_with(name, "accept-");
    ASSERT_TRUE(expect_accept || starts_with(name, "refuse-"))
        << name << ": the name must start with accept- or refuse-";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(slurp(std::string(FUZZ_REGRESSION_DIR) + "/" + name, &bytes))
        << "cannot read " << name;

    ::testing::internal::CaptureStdout();
    bool accepted = false;
    const char *difference =
        check_bitfile(bytes.data(), bytes.size(), &accepted);
    const std::string printed = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(difference, nullptr)
        << "read paths disagree on the " << difference;
    EXPECT_EQ(accepted, expect_accept);
    if (expect_accept)
        EXPECT_TRUE(starts_with(printed, "Bitstream information:\n"))
            << printed;
    else
        EXPECT_EQ(printed, "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzRegression,
                         ::testing::ValuesIn(input_names()),
                         [](const ::testing::TestParamInfo<std::string> &p) {
                             std::string id = p.param;
                             for (char &c : id)
                                 if (!isalnum((unsigned char)c))
                                     c = '_';
                             return id;
                         });
