// coder2: the mobile MP4 and 3GP encoder of the converter (MPEG-4 video, AMR-NB audio).

#include "coder/Coder.h"
#include "common/ToolMain.h"

int main(int argc, char **argv)
{
    return runTool([&] { Coder(argc, argv).run(); });
}
