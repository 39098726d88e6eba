#include <gtest/gtest.h>

#include "filter/rastertozorvan.h"

TEST(JobLoop, WrongArgumentCountIsAUsageError)
{
    char name[] = "rastertozorvan";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(rastertozorvanMain(1, argv), 1);
}

#include "support/Process.h"

TEST(JobLoop, BinaryPrintsUsageForFiveArguments)
{
    auto r = testsupport::runProcess({testsupport::builtProgram("rastertozorvan"), "1", "u", "t", "1"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("ERROR: rastertozorvan job-id user title copies options [file]\n"), std::string::npos);
}
