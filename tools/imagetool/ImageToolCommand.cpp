#include "ImageToolCommand.h"
#include "ImageHeader.h"
#include "ProgramVersion.h"

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

bool ParseUpdate(const std::vector<std::string> &arguments, ImageToolCommand &command, std::string &error) {
    std::vector<std::string> files;
    int choices = 0;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--board") {
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
            error = "unknown option '" + argument + "' for update";
            return false;
        } else {
            files.push_back(argument);
        }
    }
    if (choices > 1) {
        error = "update takes one of --board, --path and --all";
        return false;
    }
    if (files.size() != 1) {
        error = "update takes exactly one image file";
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
        if (arguments.size() == 1) return true;
        error = "list takes no arguments";
        return false;
    }
    if (verb == "update") {
        command.action = ImageToolAction::Update;
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
           "  ImageTool list\n"
           "      Lists the boards present on USB, numbered in the order Flashwell takes\n"
           "      them, with their device paths.\n"
           "  ImageTool update FILE.img [--board N | --path PATH | --all] [--quiet]\n"
           "                   [--reply-timeout S] [--flash-timeout S]\n"
           "      Checks FILE.img as Flashwell does and writes it into the first board\n"
           "      (as Flashwell), board N of the list, the board at PATH, or every board\n"
           "      one after another. Progress goes to stderr: a bar on a console, plain\n"
           "      lines otherwise, nothing with --quiet (which also keeps the closing\n"
           "      message of a success off stdout). Ctrl+C disconnects the board and ends.\n"
           "      A board that does not answer a packet within --reply-timeout seconds\n"
           "      (default 30), or the last one, after which it writes its flash, within\n"
           "      --flash-timeout seconds (default 90), is disconnected and given up (code 4).\n"
           "Exit codes:\n"
           "  0  done (show: the image is accepted; update: every board updated)\n"
           "  1  the image is not accepted (corrupted, needs a newer Flashwell, empty)\n"
           "  2  bad usage, or a file that cannot be read or written\n"
           "  3  no board present, or the chosen board is not present\n"
           "  4  the link to the board failed (the message carries the error code), or\n"
           "     the board stopped answering\n"
           "  5  the board refused the image (the message carries its error code)\n"
           "  6  interrupted by Ctrl+C: the update did not finish\n"
           "With --all the code is that of the first board that failed.\n";
}
