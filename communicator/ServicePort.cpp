#include "ServicePort.h"

#include "Hivekey.h"

std::uint16_t ReadServicePort() {
    CHivekey store;
    DWORD value = 0;
    if (store.Read(value, kServicePortPath) != 0) return COMM_ROUTER_PORT;
    return static_cast<std::uint16_t>(value);
}
