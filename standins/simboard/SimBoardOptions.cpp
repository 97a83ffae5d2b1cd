#include "SimBoardOptions.h"
#include <cstdlib>

namespace boardsim {
namespace {

bool Number(const std::string &text, std::uint64_t limit, std::uint64_t *value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char *end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > limit) return false;
    *value = parsed;
    return true;
}

}  // namespace

const char *SimBoardUsage() {
    return "SimBoard.exe [options]   (a simulated board for tests and demos)\n"
           "  --instance NAME         interface path \\\\?\\usb#vid_1234&pid_5678#NAME#{cb98b0d6-...} (sim0)\n"
           "  --attempts N            connect reply byte 4 (6)\n"
           "  --packet-timeout S      connect reply byte 5, seconds (1)\n"
           "  --reply-timeout S       connect reply byte 6, seconds (3)\n"
           "  --link-flags N          connect reply byte 7 as a whole (0x10)\n"
           "  --byte-order little|big clears or sets bit 4 of the link flags (little)\n"
           "  --no-timeouts           sets bit 0 of the link flags\n"
           "  --max-payload N         largest payload of one packet (16384)\n"
           "  --update-mode on|off    channel 66/1 messages are update packets (on)\n"
           "  --reject-chunk N:CODE   refuse the N-th update packet with error CODE\n"
           "  --flash-delay MS        time spent writing the flash before the last reply (0)\n"
           "  --answer-timeout MS     the board's wait for the host's answer (reply-timeout)\n"
           "  --payload-timeout MS    the board's wait for a payload (packet-timeout)\n"
           "  --send-attempts N       sends of one board packet (attempts)\n"
           "  --seed N                seed of the random faults (1)\n"
           "  --fault POINT:FIRST:TIMES:ACTION[:DELAYMS[:VALUE]]   an explicit fault (repeatable)\n"
           "  --random POINT:ACTION:PERMILLE[:DELAYMS[:VALUE]]     a random fault (repeatable)\n"
           "      POINT: connect host board chunk\n"
           "      ACTION: stale drop-answer delay-answer duplicate-answer ignore refuse repeat\n"
           "              drop-header drop-payload delay-payload duplicate delay-header duplicate-header\n"
           "              reject stall disconnect unplug\n"
           "  --output FILE           save the written image here after each flash write\n"
           "  --stop-event NAME       end when this named event is set\n"
           "  --unlisted              no device-setup listing; only the path opens\n"
           "  --no-stdin              do not watch stdin; needs --stop-event\n"
           "  --verbose               print the board's events when ending\n"
           "Prints \"ready <interface path>\" when present; ends when stdin closes, on \"quit\",\n"
           "or when the stop event is set. Commands on stdin, one a line: unplug, replug,\n"
           "disconnect, stall MS, resume, repeat, listening (answers once a new open will succeed),\n"
           "send CHANNEL SUBCHANNEL HEXBYTES, quit. Each answers \"ok <command>\" or \"error <command> <code>\";\n"
           "send answers \"queued <ticket>\". Each flash write prints \"flashed <bytes> 0x<sum>\".\n";
}

bool ParseSimBoardOptions(const std::vector<std::string> &args, SimBoardOptions *options, std::string *error) {
    SimBoardOptions parsed;
    BoardConfig &board = parsed.board;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &name = args[i];
        auto value = [&](std::string *text) {
            if (i + 1 >= args.size()) return false;
            *text = args[++i];
            return true;
        };
        std::string text;
        std::uint64_t n = 0;
        bool ok = true;
        if (name == "--help" || name == "-h" || name == "/?") {
            parsed.help = true;
        } else if (name == "--instance") {
            ok = value(&text) && !text.empty() && text.find_first_of("#\\/") == std::string::npos;
            board.instance = text;
        } else if (name == "--attempts") {
            ok = value(&text) && Number(text, 255, &n);
            board.link.attempts = static_cast<std::uint8_t>(n);
        } else if (name == "--packet-timeout") {
            ok = value(&text) && Number(text, 255, &n);
            board.link.packetTimeoutSeconds = static_cast<std::uint8_t>(n);
        } else if (name == "--reply-timeout") {
            ok = value(&text) && Number(text, 255, &n);
            board.link.replyTimeoutSeconds = static_cast<std::uint8_t>(n);
        } else if (name == "--link-flags") {
            ok = value(&text) && Number(text, 255, &n);
            board.link.linkFlags = static_cast<std::uint8_t>(n);
        } else if (name == "--byte-order") {
            ok = value(&text) && (text == "little" || text == "big");
            if (text == "little") board.link.linkFlags |= kLinkFlagLittleEndian;
            else board.link.linkFlags &= static_cast<std::uint8_t>(~kLinkFlagLittleEndian);
        } else if (name == "--no-timeouts") {
            board.link.linkFlags |= kLinkFlagNoTimeouts;
        } else if (name == "--max-payload") {
            ok = value(&text) && Number(text, 0x7FFFFFFF, &n) && n > 0;
            board.maxPayload = static_cast<std::uint32_t>(n);
        } else if (name == "--update-mode") {
            ok = value(&text) && (text == "on" || text == "off");
            board.updateMode = text == "on";
        } else if (name == "--reject-chunk") {
            std::uint64_t code = 0;
            std::size_t colon = std::string::npos;
            ok = value(&text) && (colon = text.find(':')) != std::string::npos &&
                 Number(text.substr(0, colon), 0xFFFFFFFF, &n) && n > 0 &&
                 Number(text.substr(colon + 1), 0xFFFF, &code) && code > 0;
            if (ok)
                board.faults.rules.push_back({FaultPoint::UpdateChunk, static_cast<std::uint32_t>(n), 1,
                                              FaultAction::RejectChunk, 0, static_cast<std::uint32_t>(code)});
        } else if (name == "--flash-delay") {
            ok = value(&text) && Number(text, 600000, &n);
            board.flashWriteDelayMs = static_cast<std::uint32_t>(n);
        } else if (name == "--answer-timeout") {
            ok = value(&text) && Number(text, 600000, &n);
            board.answerTimeoutMs = static_cast<std::uint32_t>(n);
        } else if (name == "--payload-timeout") {
            ok = value(&text) && Number(text, 600000, &n);
            board.payloadTimeoutMs = static_cast<std::uint32_t>(n);
        } else if (name == "--send-attempts") {
            ok = value(&text) && Number(text, 1000, &n);
            board.sendAttempts = static_cast<std::uint32_t>(n);
        } else if (name == "--seed") {
            ok = value(&text) && Number(text, ~0ull, &n);
            board.faults.seed = n;
        } else if (name == "--fault") {
            FaultRule rule;
            ok = value(&text) && ParseFaultRule(text, &rule);
            if (ok) board.faults.rules.push_back(rule);
        } else if (name == "--random") {
            RandomFault fault;
            ok = value(&text) && ParseRandomFault(text, &fault);
            if (ok) board.faults.randomFaults.push_back(fault);
        } else if (name == "--output") {
            ok = value(&parsed.outputFile) && !parsed.outputFile.empty();
        } else if (name == "--stop-event") {
            ok = value(&parsed.stopEventName) && !parsed.stopEventName.empty();
        } else if (name == "--unlisted") {
            board.listInterface = false;
        } else if (name == "--no-stdin") {
            parsed.readStdin = false;
        } else if (name == "--verbose") {
            parsed.verbose = true;
        } else {
            *error = "unknown option " + name;
            return false;
        }
        if (!ok) {
            *error = "bad value for " + name + (text.empty() ? std::string() : ": " + text);
            return false;
        }
    }
    if (!parsed.readStdin && parsed.stopEventName.empty() && !parsed.help) {
        *error = "--no-stdin needs --stop-event";
        return false;
    }
    *options = parsed;
    return true;
}

}  // namespace boardsim
