// coder: the RealMedia, MOV and MP3 encoder of the converter.

#include "common/Coder.h"
#include "common/ToolMain.h"

int main(int argc, char **argv)
{
    return runTool([&] { Coder(argc, argv).run(); });
}
