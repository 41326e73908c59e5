#include "fonction/network.h"

#include <cstdio>

std::string format_mac(const HardwareAddress& b) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    return text;
}

void count_adapters(int& count) {
    count = static_cast<int>(platform().adapter_addresses().size());
}

bool adapter_mac_at(int index, std::string& text) {
    // The list is read anew for every index, as the system may have changed it.
    const auto adapters = platform().adapter_addresses();
    if (index < 0 || static_cast<std::size_t>(index) >= adapters.size()) {
        return false;
    }
    text = format_mac(adapters[static_cast<std::size_t>(index)]);
    return true;
}

void read_ip_and_host_name(FixedText<16>& ip_address, FixedText<100>& host_name, int& status) {
    std::string name;
    std::string address;
    if (!platform().host_name(name)) {
        status = 1;
        name.clear();
    } else if (!platform().first_ipv4_of(name, address)) {
        status = 1;
        address.clear();
    }
    ip_address.assign(address);
    host_name.assign(name);
}
