#include "FilterScripts.h"

#include <cerrno>
#include <unistd.h>

FilterScripts::FilterScripts(bool picture, bool sound)
    : m_picture(picture ? std::make_unique<Pipe>() : nullptr),
      m_sound(sound ? std::make_unique<Pipe>() : nullptr)
{
}

std::vector<std::string> FilterScripts::markerInput()
{
    return {"-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono"};
}

std::vector<std::string> FilterScripts::option(const char *name, const std::unique_ptr<Pipe> &pipe)
{
    if (!pipe)
        return {};
    // The tool's own descriptor by its /proc name: ffmpeg opens the pipe afresh, and needs
    // to inherit nothing.
    return {name, "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(pipe->readEnd())};
}

std::vector<std::string> FilterScripts::pictureOption() const
{
    return option("-filter_script:v", m_picture);
}

std::vector<std::string> FilterScripts::soundOption() const
{
    return option("-filter_script:a", m_sound);
}

void FilterScripts::write(std::unique_ptr<Pipe> &pipe, const std::string &graph)
{
    if (!pipe || pipe->writeEnd() < 0)
        return;
    // A graph is far smaller than a pipe holds, so this never waits for ffmpeg.
    size_t done = 0;
    while (done < graph.size()) {
        const ssize_t written = ::write(pipe->writeEnd(), graph.data() + done, graph.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += size_t(written);
    }
    pipe->closeWriteEnd();
}

void FilterScripts::deliver(const std::string &picture, const std::string &sound)
{
    write(m_picture, picture.empty() ? "null" : picture);
    write(m_sound, sound.empty() ? "anull" : sound);
}

void FilterScripts::withdraw()
{
    write(m_picture, {});
    write(m_sound, {});
}
