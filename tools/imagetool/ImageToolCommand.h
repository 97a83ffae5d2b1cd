// The image tool's command line, parsed without touching any file.
//   ImageTool make --model M --version V [--requires X.Y.Z.W] PAYLOAD OUT.img
//   ImageTool show [--program-version X.Y.Z.W] FILE.img
//   ImageTool list [--json]
//   ImageTool update FILE.img [--board N | --path PATH | --all [--parallel | --jobs N]] [--quiet]
//                    [--json] [--log FILE] [--reply-timeout S] [--flash-timeout S]
//   ImageTool watch FILE.img [--count N] [--jobs N] [--quiet] [--json] [--log FILE]
//                   [--reply-timeout S] [--flash-timeout S]
#pragma once
#include "UpdateSession.h"
#include <cstdint>
#include <string>
#include <vector>

enum class ImageToolAction { Make, Show, List, Update, Watch, Help };

// Which boards `update` writes.
enum class BoardChoice { First, ByNumber, ByPath, All };

struct ImageToolCommand {
    ImageToolAction action = ImageToolAction::Help;
    // make
    std::string model;
    std::string versionText;
    uint32_t requiredVersion = 0;
    std::string payloadPath;
    std::string outputPath;
    // show, update
    std::string imagePath;
    // show
    uint32_t programVersion = 0;
    // update
    BoardChoice board = BoardChoice::First;
    unsigned boardNumber = 0;  // ByNumber: 1 is the first board `list` shows
    std::string boardPath;     // ByPath
    bool quiet = false;
    ReplyTimeouts replyTimeouts;  // --reply-timeout (chunks) and --flash-timeout (the last one)
    // update --all, watch: how many boards are updated at the same time. update: 1 unless
    // --parallel (every board) or --jobs N; watch: every board that arrives unless --jobs N.
    unsigned jobs = 1;
    // watch: the boards to finish before ending; 0 runs until Ctrl+C.
    unsigned count = 0;
    // list, update, watch: one JSON record per line on stdout (list: one array) for scripts.
    bool json = false;
    // update, watch: the same records appended to this file, one per finished board.
    std::string logPath;
};

// The number of boards `--parallel` and `watch` take at once: every board there is.
constexpr unsigned kEveryBoardAtOnce = 0xFFFFFFFFu;

// Fills `command` from the arguments after the program name; on bad input
// returns false with a one-line reason in `error`.
bool ParseImageToolCommand(const std::vector<std::string> &arguments, ImageToolCommand &command, std::string &error);

const char *ImageToolUsage();
