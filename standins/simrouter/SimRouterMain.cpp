// SimRouter.exe: protocol routers on loopback addresses as a process of their
// own, driven by commands on standard input, for demos, users and tests of other
// programs. Prints "ready PORT" once it listens, then "ok COMMAND" or
// "error COMMAND CODE" for each command. Run it in the sandbox (tools/sandbox.sh):
// discovery broadcasts must stay on loopback.
#include "SimulatedRouters.h"
#include "StdinLines.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace routersim;

namespace {

const char kUsage[] =
    "SimRouter [--service-port N]\n"
    "Commands on standard input (one per line):\n"
    "A router is named by its UDP port (0: the service port).\n"
    "  router PORT NAME [ADDRESS]       a router; ADDRESS (default 127.0.0.1) is the text its discovery reply carries\n"
    "  hidden PORT                      it no longer answers discovery broadcasts\n"
    "  remove PORT                      the router goes away\n"
    "  device PORT DEVADDR DEVPORT [EXTRA [FEATURES [NAME]]]   adds a device\n"
    "  devices PORT COUNT               COUNT devices Board-i at USB-i, port i\n"
    "  connection PORT ID1 ID2 NAMEA ADDRA PORTA NAMEB ADDRB PORTB\n"
    "  clear PORT                       no devices, no connections\n"
    "  fault PORT KIND [TYPE [VALUE [TIMES]]]\n"
    "        KIND: none silent late truncate oversize texts-outside foreign flood\n"
    "        TYPE: 0 (any) or the request type 1-6; VALUE: late ms, truncate bytes, flood copies; TIMES: 0 for ever\n"
    "  forge PORT on|off                another socket answers every request to it at once: 0 or an empty list\n"
    "  result PORT VALUE                fixed result of close, add and remove (0: normal)\n"
    "  notify devices PORT | notify routers   code 7 or 9 to 127.0.0.1:26215 and 26216\n"
    "  service on|idle|off              the local service's event: signalled, not signalled, absent\n"
    "  show PORT                        lists its devices and connections\n"
    "  quit\n";

void PrintLine(const std::string &line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Result(const std::string &command, DWORD error) {
    return error ? "error " + command + " " + std::to_string(error) : "ok " + command;
}

bool Number(const std::string &text, unsigned long *value) {
    if (text.empty()) return false;
    char *end = nullptr;
    *value = std::strtoul(text.c_str(), &end, 0);
    return *end == '\0';
}

void CopyField(char *field, const std::string &text) {
    std::size_t length = std::min<std::size_t>(text.size(), COMM_TEXT_FIELD_SIZE - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

bool ParseFault(const std::vector<std::string> &words, RouterFault *fault) {
    static const std::pair<const char *, FaultKind> kinds[] = {
        {"none", FaultKind::None},         {"silent", FaultKind::Silent},
        {"late", FaultKind::Late},         {"truncate", FaultKind::Truncate},
        {"oversize", FaultKind::Oversize}, {"texts-outside", FaultKind::TextsOutside},
        {"foreign", FaultKind::Foreign},   {"flood", FaultKind::Flood}};
    if (words.size() < 3) return false;
    bool known = false;
    for (const auto &kind : kinds) {
        if (words[2] == kind.first) {
            fault->kind = kind.second;
            known = true;
        }
    }
    unsigned long number = 0;
    if (words.size() > 3) {
        if (!Number(words[3], &number) || number > 6) return false;
        fault->requestType = static_cast<std::uint8_t>(number);
    }
    if (words.size() > 4) {
        if (!Number(words[4], &number)) return false;
        fault->value = static_cast<std::uint32_t>(number);
    }
    if (words.size() > 5) {
        if (!Number(words[5], &number)) return false;
        fault->times = static_cast<std::uint32_t>(number);
    }
    return known;
}

// Runs one command; false on "quit".
bool RunCommand(SimulatedRouters &routers, const std::string &line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) words.push_back(word);
    if (words.empty()) return true;
    const std::string &command = words[0];
    unsigned long routerPort = 0;
    const bool hasPort = words.size() > 1 && Number(words[1], &routerPort) && routerPort <= 0xFFFF;
    const std::uint16_t port = static_cast<std::uint16_t>(routerPort ? routerPort : routers.ServicePort());
    unsigned long a = 0, b = 0, c = 0, d = 0;
    if (command == "quit") return false;
    static const char *const kCommands[] = {"router", "hidden", "remove",  "device",  "devices", "connection",
                                            "clear",  "fault",  "result", "notify", "service", "show",
                                            "forge"};
    bool known = std::any_of(std::begin(kCommands), std::end(kCommands), [&](const char *name) { return command == name; });
    // A known command with unusable arguments: ERROR_INVALID_PARAMETER.
    DWORD error = known ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FUNCTION;
    if (command == "notify" && words.size() >= 2) {
        unsigned long from = 0;
        if (words[1] == "devices" && words.size() == 3 && Number(words[2], &from) && from <= 0xFFFF)
            error = routers.SendNotice(static_cast<std::uint16_t>(from ? from : routers.ServicePort()), 7);
        if (words[1] == "routers" && words.size() == 2) error = routers.SendNotice(0, 9);
    } else if (command == "service" && words.size() == 2) {
        if (words[1] == "on" || words[1] == "idle") error = routers.HoldServiceEvent(words[1] == "on");
        if (words[1] == "off") {
            routers.ReleaseServiceEvent();
            error = 0;
        }
    } else if (!hasPort) {
        // every other command names a router first
    } else if (command == "router" && (words.size() == 3 || words.size() == 4)) {
        error = routers.AddRouter(port, words[2], words.size() == 4 ? words[3] : "127.0.0.1");
    } else if (command == "hidden" && words.size() == 2) {
        error = routers.SetDiscoverable(port, false) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "remove" && words.size() == 2) {
        error = routers.RemoveRouter(port) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "device" && words.size() >= 4 && Number(words[3], &a) &&
               (words.size() < 5 || Number(words[4], &b)) && (words.size() < 6 || Number(words[5], &c))) {
        DeviceRecord device{};
        CopyField(device.address, words[2]);
        device.port = static_cast<std::uint16_t>(a);
        device.extra = static_cast<std::uint16_t>(b);
        device.features = static_cast<std::uint32_t>(c);
        if (words.size() > 6) CopyField(device.displayName, words[6]);
        std::vector<DeviceRecord> devices = routers.Devices(port);
        devices.push_back(device);
        error = routers.SetDevices(port, devices) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "devices" && words.size() == 3 && Number(words[2], &a)) {
        std::vector<DeviceRecord> devices(a);
        for (unsigned long i = 0; i < a; ++i) {
            CopyField(devices[i].displayName, "Board-" + std::to_string(i));
            CopyField(devices[i].address, "USB-" + std::to_string(i));
            devices[i].port = static_cast<std::uint16_t>(i);
        }
        error = routers.SetDevices(port, devices) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "connection" && words.size() == 10 && Number(words[2], &a) && Number(words[3], &b) &&
               Number(words[6], &c) && Number(words[9], &d)) {
        ConnectionRecord connection{};
        connection.id1 = static_cast<std::uint8_t>(a);
        connection.id2 = static_cast<std::uint8_t>(b);
        CopyField(connection.nameA, words[4]);
        CopyField(connection.addressA, words[5]);
        connection.portA = static_cast<std::uint16_t>(c);
        CopyField(connection.nameB, words[7]);
        CopyField(connection.addressB, words[8]);
        connection.portB = static_cast<std::uint16_t>(d);
        std::vector<ConnectionRecord> connections = routers.Connections(port);
        connections.push_back(connection);
        error = routers.SetConnections(port, connections) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "clear" && words.size() == 2) {
        error = routers.SetDevices(port, {}) && routers.SetConnections(port, {}) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "fault") {
        RouterFault fault;
        if (ParseFault(words, &fault)) error = routers.SetFault(port, fault) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "result" && words.size() == 3 && Number(words[2], &a)) {
        error = routers.SetResult(port, static_cast<std::uint32_t>(a)) ? 0 : ERROR_NOT_FOUND;
    } else if (command == "forge" && words.size() == 3 && (words[2] == "on" || words[2] == "off")) {
        error = routers.SetForged(port, words[2] == "on") ? 0 : ERROR_NOT_FOUND;
    } else if (command == "show" && words.size() == 2) {
        for (const DeviceRecord &device : routers.Devices(port)) {
            PrintLine(std::string("device ") + device.displayName + " " + device.address + " " +
                      std::to_string(device.port) + " " + std::to_string(device.extra) + " " +
                      std::to_string(device.features));
        }
        for (const ConnectionRecord &connection : routers.Connections(port)) {
            PrintLine("connection " + std::to_string(connection.id1) + " " + std::to_string(connection.id2) + " " +
                      connection.nameA + " " + connection.addressA + " " + std::to_string(connection.portA) + " " +
                      connection.nameB + " " + connection.addressB + " " + std::to_string(connection.portB));
        }
        error = 0;
    }
    PrintLine(Result(command, error));
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    unsigned long servicePort = 26214;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--service-port" && i + 1 < argc && Number(argv[i + 1], &servicePort) && servicePort > 0 &&
            servicePort <= 0xFFFF) {
            ++i;
            continue;
        }
        std::fprintf(stderr, "unknown option %s\n%s", option.c_str(), kUsage);
        return 2;
    }
    SimulatedRouters routers(static_cast<std::uint16_t>(servicePort));
    DWORD started = routers.Start();
    if (started) {
        std::fprintf(stderr, "error start %lu\n", started);
        return 1;
    }
    StdinLines input;
    if (!input.Start()) {
        std::fprintf(stderr, "error stdin %lu\n", ::GetLastError());
        return 1;
    }
    PrintLine("ready " + std::to_string(servicePort));
    bool running = true;
    while (running) {
        HANDLE waits[] = {input.Closed(), input.Available()};
        DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        std::string line;
        // Lines first: "quit" followed by the end of input must still be read.
        while (running && input.Next(&line)) running = RunCommand(routers, line);
        if (waited != WAIT_OBJECT_0 + 1) running = false;
    }
    input.Stop();
    routers.Stop();
    return 0;
}
