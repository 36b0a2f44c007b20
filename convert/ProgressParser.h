#pragma once

#include <QChar>
#include <QString>
#include <QStringView>
#include <optional>

// What one chunk of tool output asks the progress controls to show.
struct ProgressDisplay
{
    double imgPBWidth = 0; // twips; a full bar is ProgressParser::FullBarTwips
    double pbValue = 0;
    QString lblPBCaption;
};

// Turns the console output of the encoder tools into a progress display. Pure functions over
// one chunk and the caller's state, so the window and the headless batch can share them.
namespace ProgressParser {

constexpr double FullBarTwips = 5415;

// The activity spinner: '-' -> '\\' -> '|' -> '/' -> '-'; anything else restarts at '-'.
QChar nextSpinner(QChar current);

// conv prints a ready-made percentage in parentheses. Advances SpinnerChar; gives nothing
// when the chunk holds no percentage.
std::optional<ProgressDisplay> parseStageOne(QStringView chunk, QChar &SpinnerChar);

// The input's length in seconds, as a tool prints it once ("Duration: 00:03:25.45,"); nothing
// while the chunk does not hold it whole.
std::optional<double> inputLength(QStringView chunk);

// coder and coder2 print the input's length ("Duration: ") once and the position reached
// ("time="). Reads the length while DurationSeconds is 0, advances SpinnerChar, and gives
// nothing when the chunk holds no position.
std::optional<ProgressDisplay> parseStageTwo(QStringView chunk, QChar &SpinnerChar,
                                             qint32 &DurationSeconds);

} // namespace ProgressParser
