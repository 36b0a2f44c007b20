#include "app/BatchDisplay.h"

#include "app/MainLayout.h"
#include "convert/BatchScheduler.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace {

QLabel *makeLabel(QWidget *window, const QString &name, const QString &text)
{
    auto *label = new QLabel(text, window);
    label->setObjectName(name);
    label->setGeometry(MainLayout::place(name));
    return label;
}

QProgressBar *makeBar(QWidget *window)
{
    auto *bar = new QProgressBar(window);
    bar->setObjectName(QStringLiteral("pb"));
    bar->setGeometry(MainLayout::place(bar->objectName()));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

QLabel *makeBarImage(QWidget *window)
{
    // The bar image whose width the progress handlers keep; the user sees pb.
    auto *image = new QLabel(window);
    image->setObjectName(QStringLiteral("imgPB"));
    image->hide();
    return image;
}

} // namespace

BatchDisplay::BatchDisplay(QWidget *window)
    : lblBatch(makeLabel(window, QStringLiteral("lblBatch"), QString())),
      lblPB(makeLabel(window, QStringLiteral("lblPB"), QStringLiteral("0%"))), pb(makeBar(window)),
      imgPB(makeBarImage(window)), m_window(window)
{
}

void BatchDisplay::showProgress(const ProgressDisplay &display)
{
    setImgPBWidth(display.imgPBWidth);
    pb->setValue(qRound(qBound(0.0, display.pbValue, 100.0)));
    lblPB->setText(display.lblPBCaption);
}

void BatchDisplay::reset()
{
    setImgPBWidth(0);
    pb->setValue(0);
}

void BatchDisplay::setImgPBWidth(double twips)
{
    m_imgPBWidth = twips;
    imgPB->setFixedWidth(qRound(twips / 15.0));
}

void BatchDisplay::showBatch(const BatchScheduler &scheduler)
{
    if (scheduler.isBusy())
        lblBatch->setText(scheduler.progress().statusText());
    updateTitle(&scheduler);
}

void BatchDisplay::showDone(const QString &result)
{
    setImgPBWidth(0);
    lblPB->setText(QStringLiteral("Done."));
    lblBatch->setText(result);
}

void BatchDisplay::showStopped(const QString &why, int filesLeft)
{
    // Nothing of the stopped file's progress may carry over to the next batch.
    reset();
    lblPB->setText(why);
    lblBatch->setText(QStringLiteral("已停止，列表中还有 %1 个文件").arg(filesLeft));
}

void BatchDisplay::updateTitle(const BatchScheduler *scheduler)
{
    // The completion is over as far as the title goes: it shows no more progress after it.
    if (!m_window->isMinimized() || !scheduler || !scheduler->isBusy() ||
        scheduler->state() == BatchScheduler::State::Completion) {
        m_window->setWindowTitle(QStringLiteral("Vidmorph"));
        return;
    }
    const BatchProgress &progress = scheduler->progress();
    QString title = QStringLiteral("Vidmorph - %1%").arg(qRound(progress.fractionDone() * 100));
    if (const std::optional<qint64> left = progress.secondsLeft())
        title += QLatin1Char(' ') + BatchProgress::timeLeftText(*left);
    m_window->setWindowTitle(title);
}
