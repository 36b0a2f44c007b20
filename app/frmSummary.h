#pragma once

#include "convert/BatchScheduler.h"

#include <QDialog>
#include <QVector>

class QLabel;
class QPushButton;
class QTableWidget;

// The end of a batch in which files failed or converted with a warning: each such file with
// the reason in plain words, a way to put exactly the failed files back on the list, and the
// batch's log.
class frmSummary : public QDialog
{
    Q_OBJECT
public:
    frmSummary(const QVector<BatchScheduler::Failure> &failures,
               const QVector<BatchScheduler::Warning> &warnings, int converted,
               QWidget *parent = nullptr);

    // The line above the list: what converted, what needs a look, what failed.
    static QString heading(int converted, int warnings, int failures);

    QLabel *lblResult = nullptr;
    QTableWidget *lstFailed = nullptr;
    QPushButton *cmdRetry = nullptr;
    QPushButton *cmdLog = nullptr;
    QPushButton *cmdClose = nullptr;

signals:
    // The failed files, in the order they failed; the dialog closes after this.
    void retryRequested(const QStringList &paths);
    void logRequested();

private:
    QStringList m_failedPaths;
};
