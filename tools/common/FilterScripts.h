#pragma once

#include "Pipe.h"

#include <memory>
#include <string>
#include <vector>

// The filters of a run that starts before they are known. ffmpeg reads a stream's filter graph
// from -filter_script only when it sets up its outputs, after it has opened and described
// every input; the graphs come through pipes of this tool, which ffmpeg opens by their names
// under /proc, and are written as soon as the description of the input is complete. An empty
// second input (a lavfi source that is never read) ends that description with its own
// "Input #1" line before ffmpeg waits for the graphs.
class FilterScripts
{
public:
    // picture, sound: whether the run has a video and an audio output stream.
    FilterScripts(bool picture, bool sound);

    // The empty input, for after the first input's -i.
    static std::vector<std::string> markerInput();
    // -filter_script:v and -filter_script:a with the pipes' names; empty for a stream the run
    // does not have.
    std::vector<std::string> pictureOption() const;
    std::vector<std::string> soundOption() const;

    // Hands ffmpeg the graphs (an empty one passes the stream through) and closes the pipes.
    void deliver(const std::string &picture, const std::string &sound);
    // Closes the pipes with no graph in them: ffmpeg refuses the empty graph and ends, for a
    // run that has to start again with other streams.
    void withdraw();

private:
    static std::vector<std::string> option(const char *name, const std::unique_ptr<Pipe> &pipe);
    static void write(std::unique_ptr<Pipe> &pipe, const std::string &graph);

    std::unique_ptr<Pipe> m_picture;
    std::unique_ptr<Pipe> m_sound;
};
