#include "WindowFixture.h"
#include "app/frmMenu.h"
#include "convert/FileSearch.h"
#include "dialogs/CCommonDialogs.h"
#include "dialogs/FileDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <memory>

#include <unistd.h>

// How files enter and leave the list: Add file, Add folder, drop, Remove selected, the popup
// menu's command word, Remove all, and the common dialog behind Add file.
class TestFileList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void addFileAppendsAndReopensInItsFolder();
    void addFileCancelChangesNothing();
    void addSeveralFilesAtOnce();
    void severalFilesArriveInTheDialogsOrder();
    void commonDialogProperties();
    void nameFilters_data();
    void nameFilters();
    void addFolderExampleTree();
    void addFolderCancelSetsOnlyTheHint();
    void searchFolder();
    void dropTwoFilesAndAFolder();
    void removeSelected();
    void commandWord_data();
    void commandWord();
    void removeAll();
    void routerIgnoresUnknownIndexes();
    void columns_data();
    void columns();

private:
    std::unique_ptr<frmMain> window();
    QStringList rows(const frmMain &w) const;
    QStringList formats(const frmMain &w) const;
    void touch(const QString &path);

    WindowFixture m_fixture;
};

void TestFileList::init()
{
    m_fixture.reset(WindowFixture::AppFolder::Empty);
}

std::unique_ptr<frmMain> TestFileList::window()
{
    return m_fixture.load();
}

QStringList TestFileList::rows(const frmMain &w) const
{
    return w.files()->paths();
}

QStringList TestFileList::formats(const frmMain &w) const
{
    QStringList result;
    for (int row = 0; row < w.files()->count(); ++row)
        result.append(w.files()->index(row, 1).data().toString());
    return result;
}

void TestFileList::touch(const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void TestFileList::addFileAppendsAndReopensInItsFolder()
{
    auto w = window();
    const QString clip = m_fixture.path(QStringLiteral("v/clip.avi"));
    touch(clip);
    FileDialogs::queueAnswers({clip, clip});
    w->imgAdd_Click();
    QCOMPARE(rows(*w), QStringList{clip});
    QCOMPARE(formats(*w), QStringList{"AVI"});
    QVERIFY(!w->picText->isVisibleTo(w.get()));
    // The hidden queue is the same list.
    QCOMPARE(w->lstFile->model()->rowCount(), 1);
    QCOMPARE(w->lstFile->model()->index(0, 0).data().toString(), clip);
    w->imgAdd_Click();
    QCOMPARE(FileDialogs::lastStartFolder(), m_fixture.path(QStringLiteral("v/")));
    QCOMPARE(rows(*w), QStringList({clip, clip}));
}

void TestFileList::addFileCancelChangesNothing()
{
    auto w = window();
    FileDialogs::queueAnswers({QString()});
    w->imgAdd_Click();
    QCOMPARE(w->files()->count(), 0);
    QVERIFY(w->picText->isVisibleTo(w.get()));
    QCOMPARE(w->lblText->text(), QStringLiteral("拖拽文件到这里开始转换"));
}

void TestFileList::addSeveralFilesAtOnce()
{
    auto w = window();
    const QString folder = m_fixture.path(QStringLiteral("假期"));
    const QStringList picked = {folder + "/a.avi", folder + "/b clip.mpeg", folder + "/c.MOV"};
    for (const QString &path : picked)
        touch(path);
    FileDialogs::queueFiles(picked);
    w->imgAdd_Click();
    QCOMPARE(rows(*w), picked);
    QCOMPARE(formats(*w), QStringList({"AVI", "PEG", "MOV"}));
    QVERIFY(!w->picText->isVisibleTo(w.get()));
    // The next dialog opens where these came from, and a single file still works.
    FileDialogs::queueAnswers({picked.first()});
    w->imgAdd_Click();
    QCOMPARE(FileDialogs::lastStartFolder(), folder + QLatin1Char('/'));
    QCOMPARE(rows(*w), picked + QStringList{picked.first()});
    FileDialogs::queueFiles({});
    w->imgAdd_Click();
    QCOMPARE(w->files()->count(), 4);
}

// Qt's own dialog reports files in the order they were picked; they arrive in the order the
// dialog lists them.
void TestFileList::severalFilesArriveInTheDialogsOrder()
{
    const QString folder = m_fixture.path(QStringLiteral("clips"));
    for (const char *name : {"b.avi", "a.avi", "c.avi", "d.avi"})
        touch(folder + QLatin1Char('/') + QLatin1String(name));
    QStringList picked;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto *model = dialog->findChild<QFileSystemModel *>();
        auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
        if (!model || !view) {
            dialog->reject();
            return;
        }
        const QModelIndex root = model->index(folder);
        if (!QTest::qWaitFor([&] { return model->rowCount(root) == 4; }, 10000)) {
            dialog->reject();
            return;
        }
        // Picked out of order: d, then a, then c.
        for (const char *name : {"d.avi", "a.avi", "c.avi"})
            view->selectionModel()->select(model->index(folder + QLatin1Char('/') + name),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        picked = dialog->selectedFiles();
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        if (buttons && buttons->button(QDialogButtonBox::Open))
            buttons->button(QDialogButtonBox::Open)->click();
        else
            dialog->reject();
    });
    const QStringList chosen =
        FileDialogs::openFiles(nullptr, QStringLiteral("Open Files"), folder,
                               {QStringLiteral("所有格式文件(*.*) (*)")}, QString(), QString());
    QCOMPARE(picked.size(), 3);
    QCOMPARE(picked.first(), folder + QStringLiteral("/d.avi"));
    QCOMPARE(chosen, QStringList({folder + "/a.avi", folder + "/c.avi", folder + "/d.avi"}));
}

void TestFileList::commonDialogProperties()
{
    CCommonDialogs dialogs;
    dialogs.setTitle(QStringLiteral("Open") + QChar(0) + QStringLiteral("Files"));
    QCOMPARE(dialogs.Title(), QStringLiteral("Open"));
    dialogs.setFilter(QStringLiteral("a|*.a") + QChar(0));
    QCOMPARE(dialogs.Filter().size(), 6); // the filter reads back unchanged
    dialogs.setPath(QStringLiteral("/kept"));
    dialogs.setFileName(QStringLiteral("/kept/old.avi"));
    FileDialogs::queueAnswers({QString()});
    QCOMPARE(dialogs.ShowOpen(), 0);
    QCOMPARE(dialogs.Path(), QStringLiteral("/kept"));
    QCOMPARE(dialogs.FileName(), QStringLiteral("/kept/old.avi"));
    QCOMPARE(FileDialogs::lastStartFolder(), QStringLiteral("/kept"));
    FileDialogs::queueAnswers({QStringLiteral("/v/clip.avi")});
    QCOMPARE(dialogs.ShowOpen(), -1);
    QCOMPARE(dialogs.FileName(), QStringLiteral("/v/clip.avi"));
    QCOMPARE(dialogs.FileTitle(), QStringLiteral("clip.avi"));
    QCOMPARE(dialogs.Path(), QStringLiteral("/v"));
    FileDialogs::queueAnswers({QStringLiteral("/a.avi")});
    QCOMPARE(dialogs.ShowOpen(), -1);
    QCOMPARE(dialogs.Path(), QString());
}

void TestFileList::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("all files") << "所有格式文件(*.*)|*.*" << QStringList{"所有格式文件(*.*) (*)"};
    QTest::newRow("two pairs") << "A|*.a|B|*.b" << QStringList{"A (*.a)", "B (*.b)"};
    QTest::newRow("several patterns") << "Video|*.avi;*.mpg" << QStringList{"Video (*.avi *.mpg)"};
    QTest::newRow("empty") << "" << QStringList{};
}

void TestFileList::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, entries);
    QCOMPARE(CCommonDialogs::nameFilters(filter), entries);
}

void TestFileList::addFolderExampleTree()
{
    const QString root = m_fixture.path(QStringLiteral("tree"));
    touch(root + "/a.avi");
    touch(root + "/notes.txt");
    touch(root + "/sub/b.mpg");
    auto w = window();
    QSignalSpy done(w.get(), &frmMain::folderSearchFinished);
    FileDialogs::queueAnswers({root});
    w->CmdToolsBar_Click(1);
    QCOMPARE(w->lblText->text(), QStringLiteral("搜索文件..."));
    QVERIFY(done.wait(10000));
    QStringList found = rows(*w);
    QCOMPARE(found.size(), 3);
    // The folder's own files (in the file system's order) come before the subfolder's.
    QCOMPARE(QSet<QString>(found.begin(), found.begin() + 2),
             QSet<QString>({root + "/a.avi", root + "/notes.txt"}));
    QCOMPARE(found.last(), root + "/sub/b.mpg");
    QStringList expectedFormats;
    for (const QString &path : found)
        expectedFormats.append(path.right(3).toUpper());
    QCOMPARE(formats(*w), expectedFormats);
    QVERIFY(!w->picText->isVisibleTo(w.get()));
    QCOMPARE(w->lblText->text(), QStringLiteral("搜索文件..."));

    // A second search adds only its own folder's files.
    const QString other = m_fixture.path(QStringLiteral("other"));
    touch(other + "/c.mov");
    FileDialogs::queueAnswers({other});
    w->AddFolder();
    QVERIFY(done.wait(10000));
    QCOMPARE(rows(*w), found + QStringList{other + "/c.mov"});
}

void TestFileList::addFolderCancelSetsOnlyTheHint()
{
    auto w = window();
    FileDialogs::queueAnswers({QString()});
    w->AddFolder();
    QCOMPARE(w->files()->count(), 0);
    QVERIFY(w->picText->isVisibleTo(w.get()));
    QCOMPARE(w->lblText->text(), QStringLiteral("拖拽文件到这里开始转换"));
}

void TestFileList::searchFolder()
{
    const QString root = m_fixture.path(QStringLiteral("many"));
    for (int i = 0; i < 250; ++i)
        touch(root + QStringLiteral("/d%1/f.avi").arg(i, 3, 10, QLatin1Char('0')));
    touch(root + "/.hidden/h.avi");
    touch(root + "/locked/l.avi");
    QFile::setPermissions(root + "/locked", QFile::ReadOwner | QFile::ExeOwner);
    touch(root + "/loop/inside.avi");
    QVERIFY(QFile::link(root, root + "/loop/back")); // a link loop to the top
    QVERIFY(QFile::link(root + "/locked/l.avi", root + "/link.avi"));
    touch(root + "/名字 有 空格/视频.avi");
    touch(root + "/top.avi");

    const QStringList found = FileSearch::SearchFolder(root);
    QFile::setPermissions(root + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(found.size(), 250 + 5);
    QVERIFY(found.contains(root + "/d249/f.avi"));
    QVERIFY(found.contains(root + "/.hidden/h.avi"));
    QVERIFY(found.contains(root + "/locked/l.avi"));
    QVERIFY(found.contains(root + "/loop/inside.avi"));
    QVERIFY(!found.contains(root + "/link.avi"));
    QVERIFY(found.contains(root + "/名字 有 空格/视频.avi"));
    for (const QString &path : found) {
        QVERIFY(!path.endsWith(QLatin1String("/.")) && !path.endsWith(QLatin1String("/..")));
        QVERIFY(!path.contains(QLatin1String("/back/")));
    }
    // The top folder's own file comes first; each folder's files before its subfolders'.
    QCOMPARE(found.first(), root + "/top.avi");
    QVERIFY(FileSearch::SearchFolder(m_fixture.path(QStringLiteral("absent"))).isEmpty());
    std::atomic_bool cancel(true);
    QVERIFY(FileSearch::SearchFolder(root, &cancel).isEmpty());
}

void TestFileList::dropTwoFilesAndAFolder()
{
    auto w = window();
    w->show();
    const QString chinese = m_fixture.path(QStringLiteral("我的 视频 .avi"));
    const QString spaced = m_fixture.path(QStringLiteral("b c.mpeg "));
    const QString folder = m_fixture.path(QStringLiteral("new"));
    touch(chinese);
    touch(spaced);
    QVERIFY(QDir().mkpath(folder));
    QMimeData data;
    data.setUrls(
        {QUrl::fromLocalFile(chinese), QUrl::fromLocalFile(spaced), QUrl::fromLocalFile(folder)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->LV->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->LV->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QCOMPARE(rows(*w), QStringList({chinese, spaced, folder}));
    // Dropped paths are not trimmed: the trailing blank is the last character.
    QCOMPARE(formats(*w), QStringList({"AVI", "EG ", "NEW"}));
    QVERIFY(!w->picText->isVisibleTo(w.get()));
}

void TestFileList::removeSelected()
{
    auto w = window();
    w->appendFiles({"/1.avi", "/2.avi", "/3.avi"});
    w->LV->setCurrentIndex(w->files()->index(1, 0));
    w->imgRemove_Click();
    QCOMPARE(rows(*w), QStringList({"/1.avi", "/3.avi"}));
    // The row that took its place is selected, so the popup command works again.
    w->menu()->menuRemoveSelected_Click();
    QCOMPARE(rows(*w), QStringList({"/1.avi"}));
    w->menu()->menuRemoveSelected_Click();
    QCOMPARE(rows(*w), QStringList());
    QVERIFY(w->picText->isVisibleTo(w.get()));
    QCOMPARE(w->txtAction->text(), QString());
}

void TestFileList::commandWord_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("rowsLeft");
    QTest::newRow("exact") << "RemoveSelected" << 1;
    QTest::newRow("small letters") << "removeselected" << 2;
    QTest::newRow("trailing blank") << "RemoveSelected " << 2;
    QTest::newRow("other") << "RemoveAll" << 2;
}

void TestFileList::commandWord()
{
    QFETCH(QString, word);
    QFETCH(int, rowsLeft);
    auto w = window();
    w->appendFiles({"/1.avi", "/2.avi"});
    w->LV->setCurrentIndex(w->files()->index(0, 0));
    w->txtAction->setText(word);
    QCOMPARE(w->files()->count(), rowsLeft);
    QCOMPARE(w->txtAction->text(), QString());
}

void TestFileList::removeAll()
{
    auto w = window();
    w->menu()->menuRemoveAll_Click();
    QCOMPARE(w->files()->count(), 0);
    QVERIFY(w->picText->isVisibleTo(w.get()));
    w->appendFiles({"/1.avi", "/2.avi", "/3.avi"});
    QVERIFY(!w->picText->isVisibleTo(w.get()));
    w->menu()->menuRemoveAll_Click();
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(w->lstFile->model()->rowCount(), 0);
    QVERIFY(w->picText->isVisibleTo(w.get()));
    // A following Start finds no file.
    w->imgStart_Click();
    QCOMPARE(m_fixture.messages.messages.last().text, QStringLiteral("请先添加一个文件"));
}

void TestFileList::routerIgnoresUnknownIndexes()
{
    auto w = window();
    w->appendFiles({"/1.avi"});
    for (qint16 index : {3, 5, 7, -1, 100})
        w->imgToolbar_Click(index);
    QCOMPARE(rows(*w), QStringList{"/1.avi"});
    QVERIFY(w->isEnabled());
    QCOMPARE(m_fixture.messages.messages.size(), 0);
    QVERIFY(m_fixture.desktop.opened.isEmpty());
}

void TestFileList::columns_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("width");
    QTest::newRow("file name") << int(FileListModel::FileName) << "文件名" << 361;
    QTest::newRow("format") << int(FileListModel::Format) << "格式" << 94;
}

// Exactly two columns, whose widths fill the list.
void TestFileList::columns()
{
    QFETCH(int, column);
    QFETCH(QString, header);
    QFETCH(int, width);
    auto w = window();
    auto *list = w->findChild<QTreeView *>(QStringLiteral("LV"));
    QVERIFY(list);
    QCOMPARE(list->model()->columnCount(), 2);
    QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(), header);
    QCOMPARE(list->header()->sectionSize(column), width);
}

QTEST_MAIN(TestFileList)
#include "test_filelist.moc"
