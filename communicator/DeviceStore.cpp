#include "DeviceStore.h"

#include "RouterSocket.h"
#include "StoreKeys.h"
#include "TextCompare.h"
#include "TransportKind.h"

#include <cstring>

namespace {

constexpr char kDisplayNameValue[] = "DisplayName";
constexpr char kAddressValue[] = "Address";
constexpr char kPortValue[] = "Port";
constexpr char kFeaturesValue[] = "Features";
// The default serial settings, copied in this order.
constexpr const char *kSerialSettings[] = {"BaudRate", "ByteBits", "Parity", "StopBits"};
constexpr char kSerialAddress[] = "COM";

std::string ValuePath(const std::string &key, const char *value) { return key + '\\' + value; }

std::string DeviceKeyOf(const char *keyName) { return std::string(store::kDevicesKey) + '\\' + keyName; }

// Whether the stored device under this key has the address (ignoring case) and
// port. The adding check also needs a readable display name; the removing one
// reads the port first and the address only when it could.
enum class MatchReads { DisplayNameAddressPort, PortAddress };

bool StoredDeviceMatches(CHivekey &base, const std::string &key, const std::string &address, std::uint16_t port,
                         MatchReads reads) {
    char storedName[COMM_TEXT_FIELD_SIZE];
    char storedAddress[COMM_TEXT_FIELD_SIZE];
    DWORD storedPort = 0;
    if (reads == MatchReads::DisplayNameAddressPort) {
        if (store::ReadStoreText(base, ValuePath(key, kDisplayNameValue), storedName) != 0) return false;
        if (store::ReadStoreText(base, ValuePath(key, kAddressValue), storedAddress) != 0) return false;
        if (base.Read(storedPort, ValuePath(key, kPortValue).c_str()) != 0) return false;
    } else {
        if (base.Read(storedPort, ValuePath(key, kPortValue).c_str()) != 0) return false;
        if (store::ReadStoreText(base, ValuePath(key, kAddressValue), storedAddress) != 0) return false;
    }
    return static_cast<std::uint16_t>(storedPort) == port && SameTextIgnoringCase(storedAddress, address.c_str());
}

// The first candidate key that holds no readable "Port". Each taken candidate is
// an existing key, so the search ends after at most one more than there are keys.
std::string NewDeviceKey(CHivekey &base, const std::string &displayName, const char *kind, std::uint16_t port) {
    for (unsigned suffix = 0;; ++suffix) {
        std::string key = store::DeviceKeyPath(displayName, kind, port, suffix, IsAnsiLeadByte);
        DWORD taken = 0;
        if (base.Read(taken, ValuePath(key, kPortValue).c_str()) != 0) return key;
    }
}

// Writes the device's values, then the default serial settings for the address
// "COM": 0, or the first failed write's result.
DWORD WriteDevice(CHivekey &base, const std::string &key, const std::string &displayName, const std::string &address,
                  const DeviceRecord &device) {
    DWORD result = base.Write(displayName.c_str(), ValuePath(key, kDisplayNameValue).c_str(), REG_SZ);
    if (result == 0) result = base.Write(address.c_str(), ValuePath(key, kAddressValue).c_str(), REG_SZ);
    if (result == 0) result = base.Write(DWORD{device.port}, ValuePath(key, kPortValue).c_str());
    if (result == 0) result = base.Write(DWORD{device.features}, ValuePath(key, kFeaturesValue).c_str());
    if (result != 0 || !SameTextIgnoringCase(address.c_str(), kSerialAddress)) return result;
    for (const char *setting : kSerialSettings) {
        DWORD value = 0;
        if (base.Read(value, ValuePath(store::kDevicesKey, setting).c_str()) != 0) continue;
        result = base.Write(value, ValuePath(key, setting).c_str());
        if (result != 0) return result;
    }
    return 0;
}

// The devices of the local store in enumeration order; a key where one of the
// four values cannot be read is left out.
void AppendStoredDevices(std::vector<DeviceRecord> *devices) {
    CHivekey base;
    RegistryKey key = store::OpenStoreKey(base, store::kDevicesKey);
    if (!key) return;
    store::ForEachStoreName(key, store::StoreNames::SubKeys, [&](const char *name) {
        const std::string deviceKey = DeviceKeyOf(name);
        DeviceRecord device{};
        DWORD port = 0;
        DWORD features = 0;
        if (base.Read(port, ValuePath(deviceKey, kPortValue).c_str()) == 0 &&
            base.Read(features, ValuePath(deviceKey, kFeaturesValue).c_str()) == 0 &&
            store::ReadStoreText(base, ValuePath(deviceKey, kDisplayNameValue), device.displayName) == 0 &&
            store::ReadStoreText(base, ValuePath(deviceKey, kAddressValue), device.address) == 0) {
            device.port = static_cast<std::uint16_t>(port);
            device.features = features;
            devices->push_back(device);
        }
        return true;
    });
}

// A router host for CommGetDevices: a dotted IPv4 address, or else the first
// IPv4 address its name resolves to. False when there is none.
bool ResolveRouterHost(const char *host, std::uint32_t *address) {
    sockaddr_in dotted{};
    if (!DottedDestination(host, 0, &dotted) && !FirstIpv4Address(host, &dotted.sin_addr)) return false;
    *address = dotted.sin_addr.s_addr;
    return true;
}

}  // namespace

CommResult DeviceStore::AddDevice(const DeviceRecord *device, const char *routerHost, std::uint32_t routerPort) {
    if (!CanReadMemory(device, sizeof(*device))) return COMM_E_POINTER;
    if (HasRouter(routerHost, routerPort))
        return client_.SendDeviceRequest(router::kAddDeviceRequest, *device, routerHost, routerPort);

    const std::string displayName = store::FieldText(device->displayName);
    const std::string address = store::FieldText(device->address);
    CHivekey base;
    {
        RegistryKey devices = store::CreateStoreKey(base, store::kDevicesKey);
        if (!devices) return COMM_ERROR_FILE_NOT_FOUND;
        bool stored = false;
        store::ForEachStoreName(devices, store::StoreNames::SubKeys, [&](const char *name) {
            stored = StoredDeviceMatches(base, DeviceKeyOf(name), address, device->port,
                                         MatchReads::DisplayNameAddressPort);
            return !stored;
        });
        if (stored) return COMM_ERROR_ALREADY_EXISTS;
    }
    const std::string key = NewDeviceKey(base, displayName, GetTransportKind(address.c_str()), device->port);
    // A key name longer than an enumeration reads (on a double-byte code page a
    // long display name makes one) could never be listed, found or removed.
    const std::size_t keyNameLength = key.size() - std::strlen(store::kDevicesKey) - 1;
    if (keyNameLength > kMaxTextLength) return COMM_ERROR_INVALID_PARAMETER;
    DWORD written = WriteDevice(base, key, displayName, address, *device);
    if (written != 0) {
        // Half a device would be listed by nobody but take its key name; the
        // caller learns that the device is not stored.
        base.Delete((key + '\\').c_str());
        return written;
    }
    return COMM_SUCCESS;
}

CommResult DeviceStore::RemoveDevice(const DeviceRecord *device, const char *routerHost, std::uint32_t routerPort) {
    if (!CanReadMemory(device, sizeof(*device))) return COMM_E_POINTER;
    if (HasRouter(routerHost, routerPort))
        return client_.SendDeviceRequest(router::kRemoveDeviceRequest, *device, routerHost, routerPort);

    const std::string address = store::FieldText(device->address);
    CHivekey base;
    RegistryKey devices = store::OpenStoreKey(base, store::kDevicesKey);
    if (!devices) return COMM_ERROR_FILE_NOT_FOUND;
    std::string found;
    store::ForEachStoreName(devices, store::StoreNames::SubKeys, [&](const char *name) {
        if (StoredDeviceMatches(base, DeviceKeyOf(name), address, device->port, MatchReads::PortAddress))
            found = DeviceKeyOf(name);
        return found.empty();  // only the first match
    });
    if (found.empty()) return COMM_ERROR_FILE_NOT_FOUND;
    return base.Delete((found + '\\').c_str());
}

CommResult DeviceStore::GetDevices(DeviceRecord *records, std::uint32_t *count, const char *routerHost,
                                   std::uint32_t routerPort) {
    if (!store::UsableCount(count)) return COMM_E_POINTER;
    std::vector<DeviceRecord> devices;
    if (HasRouter(routerHost, routerPort)) {
        std::uint32_t address = 0;
        if (!ResolveRouterHost(routerHost, &address)) return COMM_ERROR_INVALID_ADDRESS;
        CommResult queried = client_.QueryRouterDevices(&devices, address, routerPort);
        if (queried != COMM_SUCCESS) return queried;
    } else {
        AppendStoredDevices(&devices);
    }
    return store::HandOutRecords(devices, records, count);
}
