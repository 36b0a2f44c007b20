#pragma once

// coder and coder2: take ffmpeg's options as the converter uses them (-i -y -vn -ar -ab -ac -s
// -vcodec -acodec -b -f -r, the output file last), encode with ffmpeg, and print the input's
// length once as "Duration: HH:MM:SS.xx, " and the position as "time=SECONDS.xx ".
// -vcodec libx264 or libx265 asks for H.264 or H.265, which a VAAPI graphics chip encodes
// when it can; without -r the output keeps the input's frame rate.
class Coder
{
public:
    Coder(int argc, char **argv) : m_argc(argc), m_argv(argv) {}
    void run();

private:
    int m_argc;
    char **m_argv;
};
