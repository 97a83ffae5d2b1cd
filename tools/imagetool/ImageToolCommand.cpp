#include "ImageToolCommand.h"
#include "ImageHeader.h"
#include "ProgramVersion.h"
#include <algorithm>

namespace {

bool TakeValue(const std::vector<std::string> &arguments, size_t &index, std::string &value, std::string &error) {
    if (index + 1 >= arguments.size()) {
        error = "option " + arguments[index] + " needs a value";
        return false;
    }
    value = arguments[++index];
    return true;
}

bool TakeVersion(const std::vector<std::string> &arguments, size_t &index, uint32_t &packed, std::string &error) {
    std::string text;
    if (!TakeValue(arguments, index, text, error)) return false;
    if (!ParseVersionText(text, packed)) {
        error = "bad version text '" + text + "' for " + arguments[index - 1] + " (expected X.Y.Z.W, each 0..255)";
        return false;
    }
    return true;
}

bool CheckFieldText(const char *what, const std::string &text, std::string &error) {
    if (text.size() <= kImageTextFieldSize) return true;
    error = std::string(what) + " text '" + text + "' is " + std::to_string(text.size()) +
            " characters long; at most " + std::to_string(kImageTextFieldSize) + " fit";
    return false;
}

// A decimal number of one to four digits.
bool ParseSmallNumber(const std::string &text, unsigned &value) {
    value = 0;
    bool good = !text.empty() && text.size() <= 4;
    for (char c : text) {
        good = good && c >= '0' && c <= '9';
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return good;
}

bool TakeBoardNumber(const std::vector<std::string> &arguments, size_t &index, unsigned &number, std::string &error) {
    std::string text;
    if (!TakeValue(arguments, index, text, error)) return false;
    unsigned value = 0;
    if (!ParseSmallNumber(text, value) || value == 0) {
        error = "bad board number '" + text + "' for --board (expected 1, 2, ... as `ImageTool list` numbers them)";
        return false;
    }
    number = value;
    return true;
}

// Whole seconds, 1 to 3600, as milliseconds.
bool TakeSeconds(const std::vector<std::string> &arguments, size_t &index, DWORD &milliseconds, std::string &error) {
    std::string text;
    if (!TakeValue(arguments, index, text, error)) return false;
    unsigned value = 0;
    if (!ParseSmallNumber(text, value) || value == 0 || value > 3600) {
        error = "bad number of seconds '" + text + "' for " + arguments[index - 1] + " (expected 1 to 3600)";
        return false;
    }
    milliseconds = value * 1000;
    return true;
}

// A count of boards, 1 to 9999.
bool TakeCount(const std::vector<std::string> &arguments, size_t &index, unsigned &count, std::string &error) {
    std::string text;
    if (!TakeValue(arguments, index, text, error)) return false;
    if (!ParseSmallNumber(text, count) || count == 0) {
        error = "bad number '" + text + "' for " + arguments[index - 1] + " (expected 1 to 9999)";
        return false;
    }
    return true;
}

// update and watch share their options; watch takes no board choice and no --parallel (it
// takes every board that arrives at once), update no --count.
bool ParseUpdate(const std::vector<std::string> &arguments, ImageToolCommand &command, std::string &error) {
    const bool watch = command.action == ImageToolAction::Watch;
    const char *verb = watch ? "watch" : "update";
    if (watch) command.jobs = kEveryBoardAtOnce;
    std::vector<std::string> files;
    int choices = 0;
    bool parallel = false, jobsGiven = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--json") {
            command.json = true;
        } else if (argument == "--log") {
            if (!TakeValue(arguments, i, command.logPath, error)) return false;
        } else if (argument == "--jobs") {
            if (!TakeCount(arguments, i, command.jobs, error)) return false;
            jobsGiven = true;
        } else if (!watch && argument == "--parallel") {
            parallel = true;
        } else if (watch && argument == "--count") {
            if (!TakeCount(arguments, i, command.count, error)) return false;
        } else if (watch && (argument == "--board" || argument == "--path" || argument == "--all")) {
            error = "watch takes every board that arrives; " + argument + " is for update";
            return false;
        } else if (argument == "--board") {
            if (!TakeBoardNumber(arguments, i, command.boardNumber, error)) return false;
            command.board = BoardChoice::ByNumber;
            ++choices;
        } else if (argument == "--path") {
            if (!TakeValue(arguments, i, command.boardPath, error)) return false;
            command.board = BoardChoice::ByPath;
            ++choices;
        } else if (argument == "--all") {
            command.board = BoardChoice::All;
            ++choices;
        } else if (argument == "--quiet" || argument == "-q") {
            command.quiet = true;
        } else if (argument == "--reply-timeout") {
            if (!TakeSeconds(arguments, i, command.replyTimeouts.chunkMs, error)) return false;
        } else if (argument == "--flash-timeout") {
            if (!TakeSeconds(arguments, i, command.replyTimeouts.lastChunkMs, error)) return false;
        } else if (argument == "--") {
            files.insert(files.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            break;
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "unknown option '" + argument + "' for " + verb;
            return false;
        } else {
            files.push_back(argument);
        }
    }
    if (choices > 1) {
        error = "update takes one of --board, --path and --all";
        return false;
    }
    if (parallel && jobsGiven) {
        error = "update takes --parallel or --jobs, not both";
        return false;
    }
    if ((parallel || jobsGiven) && !watch && command.board != BoardChoice::All) {
        error = (parallel ? std::string("--parallel") : std::string("--jobs")) + " updates several boards: add --all";
        return false;
    }
    if (parallel) command.jobs = kEveryBoardAtOnce;
    if (command.logPath.empty() && std::find(arguments.begin(), arguments.end(), "--log") != arguments.end()) {
        error = "--log needs a file name";
        return false;
    }
    if (files.size() != 1) {
        error = std::string(verb) + " takes exactly one image file";
        return false;
    }
    command.imagePath = files[0];
    return true;
}

}  // namespace

bool ParseImageToolCommand(const std::vector<std::string> &arguments, ImageToolCommand &command, std::string &error) {
    command = ImageToolCommand();
    command.requiredVersion = kFlashwellProgramVersion;
    command.programVersion = kFlashwellProgramVersion;
    if (arguments.empty()) {
        error = "no command given";
        return false;
    }
    const std::string &verb = arguments[0];
    if (verb == "help" || verb == "--help" || verb == "-h" || verb == "/?") {
        command.action = ImageToolAction::Help;
        return true;
    }
    if (verb == "list") {
        command.action = ImageToolAction::List;
        command.json = arguments.size() == 2 && arguments[1] == "--json";
        if (arguments.size() == 1 || command.json) return true;
        error = "list takes no arguments but --json";
        return false;
    }
    if (verb == "update" || verb == "watch") {
        command.action = verb == "update" ? ImageToolAction::Update : ImageToolAction::Watch;
        return ParseUpdate(arguments, command, error);
    }
    if (verb != "make" && verb != "show") {
        error = "unknown command '" + verb + "'";
        return false;
    }
    command.action = verb == "make" ? ImageToolAction::Make : ImageToolAction::Show;

    bool haveModel = false, haveVersion = false;
    std::vector<std::string> files;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        const bool make = command.action == ImageToolAction::Make;
        if (make && argument == "--model") {
            if (!TakeValue(arguments, i, command.model, error)) return false;
            haveModel = true;
        } else if (make && argument == "--version") {
            if (!TakeValue(arguments, i, command.versionText, error)) return false;
            haveVersion = true;
        } else if (make && argument == "--requires") {
            if (!TakeVersion(arguments, i, command.requiredVersion, error)) return false;
        } else if (!make && argument == "--program-version") {
            if (!TakeVersion(arguments, i, command.programVersion, error)) return false;
        } else if (argument.size() > 1 && argument[0] == '-' && argument != "--") {
            error = "unknown option '" + argument + "' for " + verb;
            return false;
        } else if (argument == "--") {
            files.insert(files.end(), arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
            break;
        } else {
            files.push_back(argument);
        }
    }

    if (command.action == ImageToolAction::Show) {
        if (files.size() != 1) {
            error = "show takes exactly one image file";
            return false;
        }
        command.imagePath = files[0];
        return true;
    }
    if (!haveModel || !haveVersion) {
        error = "make needs --model and --version";
        return false;
    }
    if (!CheckFieldText("model", command.model, error) || !CheckFieldText("version", command.versionText, error))
        return false;
    if (files.size() != 2) {
        error = "make takes a payload file and an output file";
        return false;
    }
    command.payloadPath = files[0];
    command.outputPath = files[1];
    return true;
}

const char *ImageToolUsage() {
    return "Usage:\n"
           "  ImageTool make --model M --version V [--requires X.Y.Z.W] PAYLOAD OUT.img\n"
           "      Writes a firmware image: the 128-byte header followed by PAYLOAD.\n"
           "      M and V are at most 16 characters; --requires is the lowest Flashwell\n"
           "      version that may download the image (default: this release's version).\n"
           "  ImageTool show [--program-version X.Y.Z.W] FILE.img\n"
           "      Prints the header and whether Flashwell (default: this release's version)\n"
           "      accepts the file.\n"
           "  ImageTool list [--json]\n"
           "      Lists the boards present on USB, numbered in the order Flashwell takes\n"
           "      them, with their device paths; --json prints one JSON array instead.\n"
           "  ImageTool update FILE.img [--board N | --path PATH | --all [--parallel | --jobs N]]\n"
           "                   [--quiet] [--json] [--log FILE] [--reply-timeout S] [--flash-timeout S]\n"
           "      Checks FILE.img as Flashwell does and writes it into the first board\n"
           "      (as Flashwell), board N of the list, the board at PATH, or every board\n"
           "      one after another; with --parallel every board at the same time, with\n"
           "      --jobs N at most N at a time, and a summary at the end. Progress goes to\n"
           "      stderr: a bar (one per board) on a console, plain lines otherwise (each\n"
           "      starting with the board's number when several run at once), nothing\n"
           "      with --quiet (which also keeps the closing message of a success off\n"
           "      stdout). Ctrl+C disconnects every board and ends.\n"
           "      A board that does not answer a packet within --reply-timeout seconds\n"
           "      (default 30), or the last one, after which it writes its flash, within\n"
           "      --flash-timeout seconds (default 90), is disconnected and given up (code 4).\n"
           "  ImageTool watch FILE.img [--count N] [--jobs N] [--quiet] [--json] [--log FILE]\n"
           "                  [--reply-timeout S] [--flash-timeout S]\n"
           "      A production-line station: updates each board that is plugged in, once,\n"
           "      boards that arrive together at the same time (at most N with --jobs);\n"
           "      a board is updated again only after it was unplugged. Runs until Ctrl+C\n"
           "      or until --count N boards are done, then prints a summary.\n"
           "  --json prints one JSON object per board result on a line of its own (path,\n"
           "  result, exit_code, board_code or link_code, bytes, seconds, start) instead of\n"
           "  the closing messages; --log FILE appends the same lines to FILE, each written\n"
           "  through to the disk as its board finishes.\n"
           "Exit codes:\n"
           "  0  done (show: the image is accepted; update: every board updated)\n"
           "  1  the image is not accepted (corrupted, needs a newer Flashwell, empty)\n"
           "  2  bad usage, or a file that cannot be read or written\n"
           "  3  no board present, or the chosen board is not present\n"
           "  4  the link to the board failed (the message carries the error code), or\n"
           "     the board stopped answering\n"
           "  5  the board refused the image (the message carries its error code)\n"
           "  6  interrupted by Ctrl+C: the update did not finish\n"
           "With --all the code is that of the first board (in list order) that failed;\n"
           "watch's is that of the first board that failed.\n";
}
