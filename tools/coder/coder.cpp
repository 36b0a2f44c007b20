// coder: the RealMedia, MOV and MP3 encoder of the converter, and the one encoder of H264, H265,
// AV1, M4A and FLAC.

#include "coder/Coder.h"
#include "common/ToolMain.h"

int main(int argc, char **argv)
{
    return runTool([&] { Coder(argc, argv).run(); });
}
