#pragma once

// The application object: runs the main window modally and ends the program when it closes.
class CReaderApp {
public:
    CReaderApp() = default;

    // Runs the program from start to end. Always returns false: once the main window has
    // closed there is nothing left to run.
    bool InitInstance();
};
