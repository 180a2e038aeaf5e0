// The start-up: from the entry point to the event loop and back to the exit status.
#pragma once

// The entry point's work: runs the start-up and the event loop and returns the exit status.
int VantropeMain(int argc, char** argv);

// The start-up driver: what it raises goes to the framework's unhandled-exception
// handler; only a failure of that handler passes on.
void Main();
void EarlyStartup();
void InitFileTypes();
void NewAppInstance();
void ApplicationAddMenuHandlers();
// The late-start callback: opens the main window.
void LateStartup();
void MakeDefaultView();
