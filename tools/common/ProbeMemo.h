#pragma once

#include <functional>
#include <string>

// What a test of the machine found, kept for the rest of a run: the converter names a file for
// each run in VIDMORPH_HARDWARE_PROBE_FILE, and the tools of that run read their answers from
// it, so a batch of a thousand files tests the graphics chip once instead of once per file.
// Tools that start at the same time wait for the first one's answer. Without the variable, or
// when the file cannot be used, every call tests afresh.
namespace ProbeMemo {

// The answer for `subject` (a device and an encoder, say): the one kept for this run, or what
// `test` finds, which is then kept.
bool answer(const std::string &subject, const std::function<bool()> &test);

} // namespace ProbeMemo
