// Application and event loop: the run time's start and end, the application
// object, Quit, and the handler of exceptions that nothing else caught.
#pragma once

#include "framework/runtime.h"

#include <exception>

namespace fw {

// Starts the run time: the Qt application object, on the main thread.
void RuntimeInit(int argc, char** argv);

// Ends the run time: lets go of the windows and the Qt application object, and
// returns the exit status, the code given to Quit.
int RuntimeExit();

// Reports an exception that escaped an event handler or the start-up: its class
// and message, on standard error.
void UnhandledException(const std::exception& e);

// Asks the event loop to end with the exit code. A second Quit while quitting changes nothing.
void Quit(int exitCode = 0);

} // namespace fw
