#include "app/frmSummary.h"

#include "process/NativePath.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

frmSummary::frmSummary(const QVector<BatchScheduler::Failure> &failures,
                       const QVector<BatchScheduler::Warning> &warnings, int converted,
                       QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSummary"));
    setWindowTitle(QStringLiteral("转换结果"));
    setModal(true);
    setFixedSize(560, 300);

    QString result = QStringLiteral("%1 个文件转换成功").arg(converted);
    if (!warnings.isEmpty())
        result += QStringLiteral("（其中 %1 个需要注意）").arg(warnings.size());
    result += QStringLiteral("，%1 个文件转换失败：").arg(failures.size());
    lblResult = new QLabel(result, this);
    lblResult->setObjectName(QStringLiteral("lblResult"));

    lstFailed = new QTreeWidget(this);
    lstFailed->setObjectName(QStringLiteral("lstFailed"));
    lstFailed->setHeaderLabels({QStringLiteral("文件"), QStringLiteral("原因")});
    lstFailed->setRootIsDecorated(false);
    lstFailed->setUniformRowHeights(true);
    lstFailed->setTextElideMode(Qt::ElideMiddle);
    lstFailed->header()->resizeSection(0, 200);
    lstFailed->header()->setStretchLastSection(true);
    for (const BatchScheduler::Failure &failure : failures) {
        m_failedPaths.append(failure.inputPath);
        auto *row = new QTreeWidgetItem(
            lstFailed,
            {QFileInfo(NativePath::readable(failure.inputPath)).fileName(), failure.reason});
        row->setToolTip(0, NativePath::readable(failure.inputPath));
        // The tool's own last words, for whoever wants the detail without opening the log.
        row->setToolTip(1, failure.toolLines.isEmpty() ? failure.reason : failure.toolLines);
        row->setData(0, Qt::UserRole, failure.inputPath);
    }
    for (const BatchScheduler::Warning &warning : warnings) {
        auto *row = new QTreeWidgetItem(
            lstFailed, {QFileInfo(NativePath::readable(warning.inputPath)).fileName(),
                        QStringLiteral("已转换，但需要注意：") + warning.text});
        row->setToolTip(0, NativePath::readable(warning.inputPath));
        row->setToolTip(1, warning.outputPath);
    }

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
}
