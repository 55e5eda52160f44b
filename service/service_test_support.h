// Test support of the service tests: a temporary folder removed afterwards,
// and bytes from text.
//
// Threading: used on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/ipc/bytes.h"

namespace ServiceTesting {

class TemporaryFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/service_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        const std::string command = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

    std::string m_dir;
};

inline Ipc::Bytes B(const std::string& text)
{
    return Ipc::Bytes(text.begin(), text.end());
}

} // namespace ServiceTesting
