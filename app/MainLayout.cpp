#include "app/MainLayout.h"

#include "convert/FileListModel.h"
#include "dialogs/Twips.h"

#include <iterator>

namespace {

struct Place
{
    const char *name;
    int left, top, width, height; // twips
};

// The two links are a pixel taller than first drawn, so that a line of the design font fits.
const Place places[] = {
    {"CmdToolsBar_0", 0, 0, 1420, 985},    {"CmdToolsBar_1", 1410, 0, 1420, 985},
    {"CmdToolsBar_2", 2820, 0, 1420, 985}, {"CmdToolsBar_4", 4230, 0, 1420, 985},
    {"CmdToolsBar_5", 5640, 0, 1420, 985}, {"LV", 60, 1350, 6825, 4110},
    {"picText", 0, 0, 3600, 600}, // centred on LV
    {"lblBatch", 60, 5670, 3150, 255},     {"lblPB", 3270, 5670, 3600, 210},
    {"pb", 60, 5970, 6855, 315},           {"lblWeb", 90, 6450, 2235, 210},
    {"Label1", 7350, 1080, 900, 210},      {"cmbOF", 7350, 1350, 2835, 330},
    {"Label2", 7320, 1890, 1080, 210},     {"cmbVB", 7320, 2190, 1335, 330},
    {"Label3", 8820, 1890, 540, 210},      {"cmbF", 8820, 2190, 1335, 330},
    {"Label4", 7320, 2760, 900, 210},      {"cmbS", 7320, 3060, 1335, 330},
    {"Label5", 8820, 2760, 900, 210},      {"cmbR", 8820, 3045, 1335, 330},
    {"Label6", 7320, 3660, 1080, 210},     {"cmbBR", 7320, 3975, 1335, 330},
    {"Label7", 8820, 3660, 540, 210},      {"cmbChannel", 8820, 3975, 1335, 330},
    {"Label8", 7320, 4590, 900, 210},      {"txtPath", 7320, 4875, 2055, 315},
    {"cmdBrowse", 9450, 4890, 705, 300},   {"Command3", 7320, 5460, 2835, 885},
    {"imgHelp", 9520, 120, 225, 225},      {"imgMin", 9775, 135, 210, 210},
    {"imgExit", 10075, 150, 225, 225},     {"lblFeed", 9360, 6480, 720, 210},
};

// The file list's columns, in FileListModel::Column's order, in pixels at 96 dpi.
const int columnWidths[] = {361, 94};
static_assert(std::size(columnWidths) == FileListModel::ColumnCount, "a width for every column");

} // namespace

namespace MainLayout {

QSize windowSize()
{
    return QSize(Twips::toPixels(10470), Twips::toPixels(6825));
}

QRect place(const QString &objectName)
{
    for (const Place &p : places)
        if (objectName == QLatin1String(p.name))
            return Twips::rect(p.left, p.top, p.width, p.height);
    return {};
}

int columnWidth(int column)
{
    return column >= 0 && column < int(std::size(columnWidths)) ? columnWidths[column] : 0;
}

} // namespace MainLayout
