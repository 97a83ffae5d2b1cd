// The one CommunicatorState of the loaded library.
#pragma once
#include "CommunicatorState.h"

// Valid from the library's attach to its detach, that is whenever an export runs.
CommunicatorState &TheCommunicator();
