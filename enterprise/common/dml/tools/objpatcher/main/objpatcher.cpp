// objpatcher: writes one change (create, update or delete) into the object
// store of a service; see tool.h and README.md.

#include <iostream>

#include "enterprise/common/dml/tools/objpatcher/tool.h"

int main(int argc, char** argv)
{
    return Objpatcher::RunTool(argc, argv, std::cout);
}
