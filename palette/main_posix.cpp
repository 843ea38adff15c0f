// POSIX entry point: arguments already are the bytes of the names given.
#include "tool_main.h"

int main(int argc, char** argv) {
    return toolMain(argc, argv);
}
