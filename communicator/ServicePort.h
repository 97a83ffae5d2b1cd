// The UDP port on which protocol routers and the local router service listen.
#pragma once
#include <cstdint>

constexpr std::uint16_t kDefaultServicePort = 26214;
// The store's path of the 32-bit value that overrides the default.
constexpr const char kServicePortPath[] = "Corvane\\ServicePort";

// Read anew at each call: the store's value (its low 16 bits), or the default
// when it is missing or cannot be read.
std::uint16_t ReadServicePort();
