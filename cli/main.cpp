// mkquill: stamps JPEG files named on the command line, or takes the stamp
// off again, through the core library's batch entry.
#include "tool.h"

int main(int argc, char **argv) { return mk::cli::RunTool(argc, argv); }
