// The UDP port of the local router service: COMM_ROUTER_PORT unless the store moves it.
#pragma once
#include "CommApi.h"

#include <cstdint>

// The store's path of the 32-bit value that overrides the default.
constexpr const char kServicePortPath[] = "Corvane\\ServicePort";

// Read anew at each call: the store's value (its low 16 bits), or the default
// when it is missing or cannot be read.
std::uint16_t ReadServicePort();
