#include "real_services.h"

#include <gtest/gtest.h>

#include <string>

namespace offline_upgrade {

namespace {

// Both come from the kernel's node name.
TEST(SystemHostIdentityPosix, HostAndComputerNameAreTheSame)
{
    SystemHostIdentity host;
    std::string hostName;
    std::string computerName;
    ASSERT_TRUE(host.HostName(hostName));
    ASSERT_TRUE(host.ComputerName(computerName));
    EXPECT_EQ(hostName, computerName);
}

} // namespace

} // namespace offline_upgrade
