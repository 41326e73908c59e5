// The station's network identity: its adapters' MAC texts in system order, host name and address.
#pragma once

#include "fonction/fixed_text.h"
#include "platform/platform.h"

#include <string>

// "%02X-%02X-%02X-%02X-%02X-%02X" of the six bytes: 17 characters.
std::string format_mac(const HardwareAddress& bytes);

void count_adapters(int& count);

// The MAC text of adapter `index`; an index past the end leaves `text` unchanged.
bool adapter_mac_at(int index, std::string& text);
template <std::size_t N> void adapter_mac_text(int index, FixedText<N>& text) {
    static_assert(N >= 18, "a MAC text needs 18 bytes");
    std::string found;
    if (adapter_mac_at(index, found)) {
        text.assign(found);
    }
}

// status is set to 1 when the host name or its address cannot be obtained; left alone otherwise.
void read_ip_and_host_name(FixedText<16>& ip_address, FixedText<100>& host_name, int& status);
