// Helpers shared by the command, buffer and blank-line tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "filter/Functions.h"

namespace bytetest {

using Bytes = std::vector<unsigned char>;

// What the output buffer holds.
inline Bytes buffered() { return Bytes(RawData, RawData + curPagePos); }

inline Bytes toBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Runs `fn` with standard output captured and returns the bytes written.
template <typename Fn>
Bytes directBytes(Fn fn)
{
    std::fflush(nullptr);
    testing::internal::CaptureStdout();
    fn();
    return toBytes(testing::internal::GetCapturedStdout());
}

// Empties the buffer before a test and after it.
class BufferTest : public ::testing::Test {
protected:
    void SetUp() override { curPagePos = 0; }
    void TearDown() override { curPagePos = 0; }
};

}  // namespace bytetest
