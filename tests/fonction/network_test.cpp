#include "fonction/network.h"
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

TEST(Network, MacTextsFollowTheSystemOrderAndKeepDuplicates) {
    FakePlatform system;
    system.adapters = {FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E),
                       FakePlatform::mac(0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54),
                       FakePlatform::mac(0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E)};
    int count = -1;
    count_adapters(count);
    ASSERT_EQ(count, 3);
    FixedText<18> text;
    adapter_mac_text(0, text);
    EXPECT_EQ(text.str(), "00-1A-2B-3C-4D-5E");
    adapter_mac_text(1, text);
    EXPECT_EQ(text.str(), "FE-DC-BA-98-76-54");
    adapter_mac_text(2, text);
    EXPECT_EQ(text.str(), "00-1A-2B-3C-4D-5E");
    FixedText<70> kept("unchanged");
    adapter_mac_text(3, kept);
    adapter_mac_text(-1, kept);
    EXPECT_EQ(kept.str(), "unchanged");
}

TEST(Network, NoAdapterCountsZero) {
    FakePlatform system;
    int count = -1;
    count_adapters(count);
    EXPECT_EQ(count, 0);
}

TEST(Network, HostNameAndAddressWithTheirStatus) {
    FakePlatform system;
    FixedText<16> ip("old");
    FixedText<100> host("old");
    int status = 0;
    read_ip_and_host_name(ip, host, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ip.str(), "192.168.10.21");
    EXPECT_EQ(host.str(), "poste-test");

    system.address_available = false;
    read_ip_and_host_name(ip, host, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ip.str(), "") << "an unresolvable name leaves the address empty";
    EXPECT_EQ(host.str(), "poste-test");

    system.host_name_available = false;
    status = 0;
    read_ip_and_host_name(ip, host, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(host.str(), "");
}

TEST(Network, AnOverlongHostNameIsCutToItsField) {
    FakePlatform system;
    system.name = std::string(250, 'n');
    FixedText<16> ip;
    FixedText<100> host;
    int status = 0;
    read_ip_and_host_name(ip, host, status);
    EXPECT_EQ(host.size(), 99u);
}
