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
           "Exit code: 0 done (show: accepted), 1 show: not accepted, 2 bad input or file error.\n";
}
