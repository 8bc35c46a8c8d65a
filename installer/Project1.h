// The setup program's start-up: from the program file to the end of the message loop.
#pragma once

#include <string>

// The whole program: makes the toolkit, checks the installer image that the program file
// carries, builds the main form from it and runs it. Returns the exit code: 0 after a normal
// close, 1 when building the main form failed, the image's own code when the program carries no
// installer or a damaged one. SIGTERM, SIGINT and SIGHUP end the program by that signal after
// deleting its temporary files (TempFiles.h).
int RunSetup(int& argc, char** argv);

// The part after the image is in: initialises the application, creates the main form from the
// resource TFORM1 (unpacking the embedded files), runs the message loop and destroys the forms.
// An exception while the form is built is shown in the "Application Error" box and gives 1.
// Needs the widget set and the application objects (InitApplicationObjects).
int RunApplication();
