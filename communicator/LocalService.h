// The router service on the local computer, seen through the named event it
// holds signalled while it runs. Communicator only opens the event, with the
// right to wait on it, and never creates, sets or resets it.
#pragma once

constexpr const char kLocalServiceEventName[] = "Global\\VantrelVexaService";

// Whether the event exists and is signalled now (tested without waiting).
bool LocalServiceRunning();
