// fuzz-sources: communicator/SelectionText.cpp
// fuzz-includes: communicator
// The entry texts of the board-selection dialog read back with the entry
// pattern: any text (a router's name and address come from the network or the
// store) scans without reading outside it into at most three fields, each word
// free of white space, fields after a mismatch empty; what ItemText makes of
// two words and a port scans back to them; the remove button's reading and the
// display-name rules take any text.
#include "SelectionText.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsWord(const std::string &text) {
    if (text.empty()) return false;
    for (char c : text)
        if (std::isspace(static_cast<unsigned char>(c)) || c == '\0') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);

    const selection::ScannedItem item = selection::ScanItemText(text);
    Check(item.fields >= 0 && item.fields <= 3);
    Check((item.fields >= 1) == !item.name.empty());
    Check((item.fields >= 2) == !item.address.empty());
    if (item.fields < 3) Check(item.port == 0);
    for (const std::string *word : {&item.name, &item.address})
        for (char c : *word) Check(!std::isspace(static_cast<unsigned char>(c)));
    if (item.fields >= 1) Check(text.find(item.name) != std::string::npos);

    // Split the input into two words and a port: they come back unchanged.
    const std::size_t half = size / 2;
    const std::string name = text.substr(0, half), address = text.substr(half, size - half - (size > 2 ? 2 : 0));
    const std::uint16_t port = size >= 2 ? static_cast<std::uint16_t>(data[size - 1] << 8 | data[size - 2]) : 0;
    if (IsWord(name) && IsWord(address) && address.find('(') != 0) {
        const selection::ScannedItem back = selection::ScanItemText(selection::ItemText(name, address, port));
        Check(back.fields == 3 && back.name == name && back.address == address && back.port == port);
    }

    const selection::RemovalTarget target = selection::ReadRemovalTarget(text);
    Check(target.name.size() <= text.size());
    const std::string shown = selection::ToDisplayName(text);
    Check(!shown.empty());
    const std::string back = selection::FromDisplayName(shown);
    Check(back.empty() || back == text);
    Check(selection::ShortHostName(text).size() <= text.size());
    return 0;
}
