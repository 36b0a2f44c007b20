#pragma once

#include "convert/ProgressParser.h"

#include <QString>

class BatchScheduler;
class QLabel;
class QProgressBar;
class QWidget;

// The window's view of a batch: the bar and its label for the running file (with the hidden
// bar image whose width the progress handlers keep), the line with the file count and the time
// left, and the title while the window is minimised, the only thing a user sees of it then.
class BatchDisplay
{
public:
    // Makes the controls on the window.
    explicit BatchDisplay(QWidget *window);

    QLabel *const lblBatch;
    QLabel *const lblPB;
    QProgressBar *const pb;
    QLabel *const imgPB;

    void showProgress(const ProgressDisplay &display);
    // The bar back to empty.
    void reset();
    void setImgPBWidth(double twips);
    double imgPBWidth() const { return m_imgPBWidth; }

    // Which file of how many and the time left, while the batch runs.
    void showBatch(const BatchScheduler &scheduler);
    void showDone(const QString &result);
    void showStopped(const QString &why, int filesLeft);
    // The name alone, or the progress while minimised during a batch.
    void updateTitle(const BatchScheduler *scheduler);

private:
    QWidget *m_window;
    double m_imgPBWidth = 0; // twips, as the progress handlers compute it
};
