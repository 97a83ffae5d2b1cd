// `ImageTool list`, `ImageTool update` and `ImageTool watch`: the boards on USB, and
// Flashwell's update session run from a console through Communicator.dll, on one board,
// on several at the same time, or on each board as it is plugged in.
#pragma once
#include "ImageToolCommand.h"

// Each returns the program's exit code (ImageToolExit.h).
int ListBoards(const ImageToolCommand &command);
int UpdateBoards(const ImageToolCommand &command);
int WatchBoards(const ImageToolCommand &command);
