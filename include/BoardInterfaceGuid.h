/* Device-interface class of the boards' USB interface. Flashwell searches for
   boards under it; Wirrow watches for their removal under it. */
#ifndef BOARD_INTERFACE_GUID_H
#define BOARD_INTERFACE_GUID_H

#include <guiddef.h>

/* {CB98B0D6-AEA0-42CC-BEDD-24564F5ABCEE} */
static const GUID BoardInterfaceGuid = {
    0xcb98b0d6, 0xaea0, 0x42cc, {0xbe, 0xdd, 0x24, 0x56, 0x4f, 0x5a, 0xbc, 0xee}};

#endif
