// Device setup's listing of present board interfaces, as Flashwell's search and Wirrow's
// removal watch read it.
#pragma once
#include "DeviceInfoSet.h"
#include <windows.h>
#include <string>
#include <vector>

// The present device interfaces of one class, or of every class for null.
DeviceInfoSet PresentInterfaces(const GUID *interfaceClass);
// Every device interface of the class device setup knows, present or not.
DeviceInfoSet RegisteredInterfaces(const GUID &interfaceClass);
// The paths of the set's board interfaces, in the set's order; none for a set that failed.
std::vector<std::string> BoardInterfacesOf(const DeviceInfoSet &devices);
