// Command line of SimBoard.exe, parsed apart from the program so it is tested directly.
#pragma once
#include "BoardConfig.h"
#include <string>
#include <vector>

namespace boardsim {

struct SimBoardOptions {
    BoardConfig board;
    std::string outputFile;     // the written image is saved here after each flash write
    std::string stopEventName;  // a named event that ends the program when set
    bool readStdin = true;      // false: stdin is not watched (end by the stop event or by killing)
    bool verbose = false;       // print every board event on stdout at the end
    bool help = false;
};

// args without the program name. false with *error set on a bad option.
bool ParseSimBoardOptions(const std::vector<std::string> &args, SimBoardOptions *options, std::string *error);
const char *SimBoardUsage();

}  // namespace boardsim
