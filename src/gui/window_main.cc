// The module's entry point, called by the program when no command-line option matched.
#include "gui/app.h"

extern "C" __attribute__((visibility("default"))) int quarvel_window_main(int argc, char** argv) {
    App app;
    return app.run(argc, argv);
}
