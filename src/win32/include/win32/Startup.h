// The start-up and end of the program on Windows.
#pragma once

#include <string>

// Creates the main window Form1, shows it, runs the message loop until the application is asked
// to quit, and destroys the window. A failure during start-up is shown in the error box. The
// result is the process's exit code, 0 in every case.
int RunMain();

// Tells the version line to whoever asked: through the standard output the program was given (a
// redirection to a file or a pipe), else on the console of the Command Prompt it was started
// from, else, started without any console, in a message box.
void TellVersion(const std::string& line);
