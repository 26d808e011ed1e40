#include "crash_handler.h"
#include "entry.h"

int main(int argc, char** argv) {
    // First of all, so that a crash anywhere, in any mode, leaves its report.
    CrashHandler::install();
    return entry::run(argc, argv);
}
