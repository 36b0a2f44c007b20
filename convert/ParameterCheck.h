#pragma once

#include "convert/ParameterSet.h"

#include <QString>

// The values the second stage of a two-stage format will hand to its tool, checked before any
// work: a typed size or number the tool would refuse is said at once, instead of after the
// whole first stage of every file has run. A frame size is checked for every format that
// reads one; a one-stage tool meets its other values at once anyway, so those go to it
// unchecked, as the lists show them.
namespace ParameterCheck {

// Why the batch cannot start, in plain Chinese; empty when it can.
QString problem(const ParameterSet &parameters);

} // namespace ParameterCheck
