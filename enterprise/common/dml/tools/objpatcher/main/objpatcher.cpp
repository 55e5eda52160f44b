// objpatcher: writes one change (create, update or delete) into the object
// store of a service; see tool.h and README.md.

#include <malloc.h>

#include <iostream>

#include "enterprise/common/dml/tools/objpatcher/tool.h"

int main(int argc, char** argv)
{
    // The tool's threads hand large trees and packets to each other: the input
    // is read on the main thread, the local service builds its copy on a
    // library thread and the reply is read on another. With a heap arena per
    // thread, what one thread frees stays with its arena while the next tree
    // grows in another one; with one arena each tree reuses what the one
    // before gave back. Blocks of a megabyte and more are mapped on their own
    // and go back to the system when freed, whatever sizes came before.
    (void)mallopt(M_ARENA_MAX, 1);
    (void)mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    return Objpatcher::RunTool(argc, argv, std::cout);
}
