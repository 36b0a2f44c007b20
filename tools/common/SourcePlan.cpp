#include "SourcePlan.h"

SourcePlan::SourcePlan(std::string url, bool picture, Sound sound, Planner planner,
                       const SourceInfo *known)
    : m_url(std::move(url)), m_picture(picture), m_sound(sound), m_planner(std::move(planner)),
      m_source(known ? *known : SourceInfo()), m_known(known != nullptr)
{
}

SourcePlan::Options SourcePlan::next()
{
    m_givenUp = false;
    Options options;
    if (!m_known) {
        m_scripts = std::make_unique<FilterScripts>(m_picture, m_sound != Sound::None);
        options.marker = FilterScripts::markerInput();
        options.pictureFilters = m_scripts->pictureOption();
        if (m_sound != Sound::None)
            options.soundMap = {"-map", m_sound == Sound::Required ? "0:a:0" : "0:a:0?"};
        options.soundFilters = m_scripts->soundOption();
        return options;
    }
    m_scripts.reset();
    const Filters filters = m_planner(m_source);
    if (m_picture && !filters.picture.empty())
        options.pictureFilters = {"-vf", filters.picture};
    const int chosen = m_source.chosenSound();
    if (m_sound != Sound::None && chosen >= 0) {
        options.soundMap = {"-map", "0:" + std::to_string(m_source.sounds[size_t(chosen)].stream)};
        if (!filters.sound.empty())
            options.soundFilters = {"-af", filters.sound};
    } else if (m_sound == Sound::Required) {
        // ffmpeg says the input has no audio stream, as the converter expects to read.
        options.soundMap = {"-map", "0:a:0"};
    }
    return options;
}

void SourcePlan::read(const std::string &stderrText)
{
    if (!m_scripts || m_known || !SourceInfo::parse(stderrText, m_url, m_source))
        return;
    m_known = true;
    if (m_sound != Sound::None && m_source.chosenSound() > 0) {
        m_givenUp = true;
        m_scripts->withdraw();
        return;
    }
    const Filters filters = m_planner(m_source);
    m_scripts->deliver(filters.picture, filters.sound);
}
