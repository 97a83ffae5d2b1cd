// A Win32 error code as one line a person understands.
#pragma once
#include <string>

// "The system cannot find the file specified (error 2)".
std::string SystemMessage(unsigned long error);
