// The Corvane ZEB40 upgrade tool.
#include "app/Application.h"
#include "app/Startup.h"

int main(int argc, char** argv) {
    try {
        TApplication application(argc, argv);
        return RunMain(application);
    } catch (...) {
        // Nothing to show a failure with before the application exists.
        return 0;
    }
}
