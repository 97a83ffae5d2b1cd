// `ImageTool list` and `ImageTool update`: the boards on USB, and Flashwell's
// update session run from a console through Communicator.dll.
#pragma once
#include "ImageToolCommand.h"

// Both return the program's exit code (ImageToolExit.h).
int ListBoards();
int UpdateBoards(const ImageToolCommand &command);
