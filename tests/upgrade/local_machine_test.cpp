#include "platform/text.h"
#include "real_services.h"
#include "upgrade/local_machine.h"

#include <gtest/gtest.h>

#include <optional>

namespace offline_upgrade {

namespace {

// Answers from fixed values; nullopt makes the call fail.
class FakeHostIdentity : public IHostIdentity {
public:
    std::optional<std::string> Host;
    std::vector<Ipv4Address> Addresses;
    std::vector<Ipv4Address> Interfaces; // up and not loopback
    std::optional<std::string> Computer;
    std::vector<std::string> Resolved; // every name given to ResolveIPv4
    int InterfaceQueries = 0;

    bool HostName(std::string &name) override
    {
        if (!Host)
            return false;
        name = *Host;
        return true;
    }
    bool ResolveIPv4(const std::string &name, std::vector<Ipv4Address> &addresses) override
    {
        Resolved.push_back(name);
        addresses = Addresses;
        return !addresses.empty();
    }
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override
    {
        ++InterfaceQueries;
        addresses = Interfaces;
        return !addresses.empty();
    }
    bool ComputerName(std::string &name) override
    {
        if (!Computer)
            return false;
        name = *Computer;
        return true;
    }
};

TEST(GetLocalIPAddress, TakesTheLastAddressOfTheHostName)
{
    struct Case {
        std::optional<std::string> host;
        std::vector<Ipv4Address> addresses;
        std::string expected;
    };
    const Case cases[] = {
        {"pc1", {{192, 168, 1, 20}}, "192.168.1.20"},
        {"pc1", {{10, 0, 0, 1}, {192, 168, 1, 20}, {172, 16, 5, 9}}, "172.16.5.9"},
        {"pc1", {{0, 0, 0, 0}}, "0.0.0.0"},
        {"pc1", {{255, 255, 255, 255}}, "255.255.255.255"},
        {"pc1", {{10, 0, 0, 1}, {10, 0, 0, 1}}, "10.0.0.1"},
        {"pc1", {}, ""},                     // the name does not resolve
        {std::nullopt, {{10, 0, 0, 1}}, ""}, // the host name cannot be read
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        FakeHostIdentity host;
        host.Host = cases[i].host;
        host.Addresses = cases[i].addresses;
        EXPECT_EQ(GetLocalIPAddress(host), cases[i].expected) << "case " << i;
        if (cases[i].host) {
            ASSERT_EQ(host.Resolved.size(), 1u) << "case " << i;
            EXPECT_EQ(host.Resolved[0], *cases[i].host) << "case " << i;
        } else {
            EXPECT_TRUE(host.Resolved.empty()) << "case " << i;
        }
    }
}

TEST(GetLocalIPAddress, AHostNameOnLoopbackOnlyGivesWayToTheInterfaces)
{
    struct Case {
        std::vector<Ipv4Address> resolved;
        std::vector<Ipv4Address> interfaces;
        std::string expected;
        bool interfacesAsked;
    };
    const Case cases[] = {
        // Debian's /etc/hosts entry for the host name.
        {{{127, 0, 1, 1}}, {{192, 168, 1, 20}}, "192.168.1.20", true},
        {{{127, 0, 0, 1}, {127, 0, 1, 1}},
         {{10, 0, 0, 5}, {192, 168, 1, 20}},
         "192.168.1.20",
         true},
        // No interface up besides loopback: the loopback address stays.
        {{{127, 0, 1, 1}}, {}, "127.0.1.1", true},
        // One real address among them: today's rule, the last address of the name.
        {{{127, 0, 1, 1}, {10, 0, 0, 7}}, {{192, 168, 1, 20}}, "10.0.0.7", false},
        {{{10, 0, 0, 7}, {127, 0, 1, 1}}, {{192, 168, 1, 20}}, "127.0.1.1", false},
        {{{128, 0, 0, 1}}, {{192, 168, 1, 20}}, "128.0.0.1", false},
        // The name does not resolve: nothing, as before.
        {{}, {{192, 168, 1, 20}}, "", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        FakeHostIdentity host;
        host.Host = "debian";
        host.Addresses = cases[i].resolved;
        host.Interfaces = cases[i].interfaces;
        EXPECT_EQ(GetLocalIPAddress(host), cases[i].expected) << "case " << i;
        EXPECT_EQ(host.InterfaceQueries > 0, cases[i].interfacesAsked) << "case " << i;
    }
}

TEST(GetLocalComputerName, GivesTheNameOrUnkown)
{
    FakeHostIdentity host;
    host.Computer = "WORKSTATION-7";
    EXPECT_EQ(GetLocalComputerName(host), "WORKSTATION-7");
    host.Computer = std::nullopt;
    EXPECT_EQ(GetLocalComputerName(host), "Unkown");
}

// A numeric name resolves without asking any name server, so the byte order of the real
// resolver can be checked on every machine.
TEST(SystemHostIdentity, ResolvesANumericNameInNetworkOrder)
{
    SystemHostIdentity host;
    std::vector<Ipv4Address> addresses;
    ASSERT_TRUE(host.ResolveIPv4("10.1.2.3", addresses));
    ASSERT_EQ(addresses.size(), 1u);
    EXPECT_EQ(addresses[0], (Ipv4Address{10, 1, 2, 3}));
}

TEST(SystemHostIdentity, InterfaceAddressesLeaveLoopbackOut)
{
    SystemHostIdentity host;
    std::vector<Ipv4Address> addresses;
    // A machine (or a test namespace) may have no interface but loopback: then false.
    const bool found = host.InterfaceIPv4(addresses);
    EXPECT_EQ(found, !addresses.empty());
    for (const Ipv4Address &address : addresses)
        EXPECT_NE(address[0], 127);
}

// How this system's names compare lies beside, in local_machine_posix_test.cpp and
// local_machine_win_test.cpp.
TEST(SystemHostIdentity, ReadsTheNamesOfThisMachine)
{
    SystemHostIdentity host;
    std::string hostName;
    std::string computerName;
    ASSERT_TRUE(host.HostName(hostName));
    ASSERT_TRUE(host.ComputerName(computerName));
    EXPECT_FALSE(hostName.empty());
    EXPECT_TRUE(EqualsIgnoreAsciiCase(hostName, computerName)) << hostName << " " << computerName;
}

} // namespace

} // namespace offline_upgrade
