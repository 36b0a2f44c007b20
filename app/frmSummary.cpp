#include "app/frmSummary.h"

#include "process/NativePath.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

void addRow(QTableWidget *list, const QString &inputPath, const QString &text,
            const QString &detail)
{
    const QString readable = NativePath::readable(inputPath);
    const int row = list->rowCount();
    list->insertRow(row);
    auto *file = new QTableWidgetItem(QFileInfo(readable).fileName());
    file->setToolTip(readable);
    auto *reason = new QTableWidgetItem(text);
    // The whole text first, then what it rests on, for whoever wants it without the log.
    reason->setToolTip(detail.isEmpty() ? text : text + QStringLiteral("\n\n") + detail);
    list->setItem(row, 0, file);
    list->setItem(row, 1, reason);
}

} // namespace

QString frmSummary::heading(int converted, int warnings, int failures)
{
    QString text = QStringLiteral("%1 个文件转换成功").arg(converted);
    if (failures == 0)
        return text + QStringLiteral("，其中 %1 个需要注意：").arg(warnings);
    if (warnings > 0)
        text += QStringLiteral("（其中 %1 个需要注意）").arg(warnings);
    return text + QStringLiteral("，%1 个文件转换失败：").arg(failures);
}

frmSummary::frmSummary(const QVector<BatchScheduler::Failure> &failures,
                       const QVector<BatchScheduler::Warning> &warnings, int converted,
                       QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSummary"));
    setWindowTitle(QStringLiteral("转换结果"));
    setModal(true);
    setSizeGripEnabled(true);

    lblResult = new QLabel(heading(converted, int(warnings.size()), int(failures.size())), this);
    lblResult->setObjectName(QStringLiteral("lblResult"));
    lblResult->setWordWrap(true);

    lstFailed = new QTableWidget(0, 2, this);
    lstFailed->setObjectName(QStringLiteral("lstFailed"));
    lstFailed->setHorizontalHeaderLabels({QStringLiteral("文件"), QStringLiteral("原因")});
    lstFailed->verticalHeader()->hide();
    lstFailed->setShowGrid(false);
    lstFailed->setAlternatingRowColors(true);
    lstFailed->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstFailed->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A reason is read whole: its numbers sit at its end, where cutting it would take them.
    // Rows take the height their wrapped text needs, also when the dialog is resized.
    lstFailed->setWordWrap(true);
    lstFailed->setTextElideMode(Qt::ElideNone);
    lstFailed->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstFailed->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lstFailed->horizontalHeader()->resizeSection(0, 180);
    lstFailed->horizontalHeader()->setStretchLastSection(true);
    for (const BatchScheduler::Failure &failure : failures) {
        m_failedPaths.append(failure.inputPath);
        addRow(lstFailed, failure.inputPath, failure.reason, failure.toolLines);
    }
    for (const BatchScheduler::Warning &warning : warnings)
        addRow(lstFailed, warning.inputPath, QStringLiteral("已转换，但需要注意：") + warning.text,
               QStringLiteral("输出文件：") + NativePath::readable(warning.outputPath));

    auto *buttons = new QDialogButtonBox(this);
    cmdRetry =
        buttons->addButton(QStringLiteral("重新添加失败的文件"), QDialogButtonBox::ActionRole);
    cmdRetry->setObjectName(QStringLiteral("cmdRetry"));
    cmdRetry->setEnabled(!m_failedPaths.isEmpty());
    cmdLog = buttons->addButton(QStringLiteral("查看日志"), QDialogButtonBox::ActionRole);
    cmdLog->setObjectName(QStringLiteral("cmdLog"));
    cmdClose = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setDefault(true);
    connect(cmdRetry, &QPushButton::clicked, this, [this] {
        emit retryRequested(m_failedPaths);
        accept();
    });
    connect(cmdLog, &QPushButton::clicked, this, &frmSummary::logRequested);
    connect(cmdClose, &QPushButton::clicked, this, &frmSummary::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblResult);
    layout->addWidget(lstFailed);
    layout->addWidget(buttons);
    setMinimumSize(420, 240);
    resize(640, 360);
}
