#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A command line for a tool: the input's bytes split at each NUL into arguments, after the
// program's name, with argv ending in a null pointer as main() gets it.
class ToolArguments
{
public:
    ToolArguments(const char *program, const uint8_t *data, size_t size)
    {
        m_arguments.emplace_back(program);
        std::string argument;
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                m_arguments.push_back(argument);
                argument.clear();
            } else {
                argument += char(data[i]);
            }
        }
        if (size > 0)
            m_arguments.push_back(argument);
        for (std::string &a : m_arguments)
            m_argv.push_back(a.data());
        m_argv.push_back(nullptr);
    }

    int argc() const { return int(m_arguments.size()); }
    char **argv() { return m_argv.data(); }
    const std::vector<std::string> &arguments() const { return m_arguments; }

private:
    std::vector<std::string> m_arguments;
    std::vector<char *> m_argv;
};
