// mkquill: stamps JPEG files named on the command line, or takes the stamp
// off again, through the core library's batch entry.
#include <cstdio>
#include <new>

#include "tool.h"

int main(int argc, char **argv) {
    try {
        return mk::cli::RunTool(argc, argv);
    } catch (const std::bad_alloc &) {
        // The lists could not be built or grown: nothing has been processed.
        std::printf("Out of memory\r\n");
        return -1;
    }
}
