// The start-up and end of the program.
#pragma once

#include <functional>

class TApplication;
class TForm1;

// Creates the main window Form1, shows it, runs the event loop until the application is asked
// to quit, and destroys the window. A failure during start-up is shown in the error box. The
// result is the process's exit code, 0 in every case. created, when given, is called once the
// window exists, before it is shown.
int RunMain(TApplication& application, const std::function<void(TForm1&)>& created = {});
