#pragma once

namespace tolvak::win32 {

// Ctrl-C, Ctrl-Break, closing the console window, logging off and shutting down call handler, on
// a thread of the system's, until it is set to nullptr again. With none set they raise SIGINT,
// so that a C runtime signal handler (such as Boost.Asio's) sees all of them, not Ctrl-C alone.
// Once one of them came, the process is given a few seconds to finish before the system ends it.
void setConsoleStopHandler(void (*handler)());

// Installs the console control handler; later calls do nothing.
void watchConsoleEvents();

} // namespace tolvak::win32
