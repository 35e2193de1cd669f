// The plot window's exports: the store as CSV, the chart as a picture.
#include "app/dialogs.h"
#include "app/qt_text.h"
#include "common/codepage.h"
#include "common/fd_stream.h"
#include "common/output_file.h"
#include "vars/plot_window.h"

#include <QBuffer>
#include <QPushButton>
#include <memory>
#include <ostream>

namespace quillon::vars {

namespace {

const QString kCsvFilter = QStringLiteral("CSV文件 (*.csv)|*.csv|All files (*.*)|*.*");
const QString kPngFilter = QStringLiteral("PNG图片 (*.png)|*.png|All files (*.*)|*.*");

} // namespace

void PlotWindow::btnPlotCsvClick()
{
    if (exporting()) return;
    const auto path = dialogs_.saveFile(kCsvFilter, QStringLiteral("csv"), QStringLiteral("变量曲线.csv"));
    if (!path || !dialogs_.confirmOverwrite(*path)) return;
    // Every numeric row the store holds samples of, watched now or not.
    std::vector<vars::SampleStore::CsvColumn> columns;
    for (const vars::VarRow& r : list_.rows())
        if (vars::sampleKindOf(r.def.type) && store_.has(r.series))
            columns.push_back({r.series, utf8ToGbk(r.def.name)});
    auto out = std::make_shared<SafeOutput>();
    if (!out->open(localPath(*path))) {
        dialogs_.error(QStringLiteral("打开文件时出错!"));
        return;
    }
    // A full store makes a file of a gigabyte or more: it is written from a
    // copy on a thread of its own, so the window (and the reader waiting on
    // it) never stalls while the line goes on sending.
    auto copy = std::make_shared<const vars::SampleStore>(store_);
    csvButton_->setEnabled(false);
    exportThread_ = std::thread([this, out, copy, columns = std::move(columns)] {
        FdStreamBuf buf(out->fd());
        std::ostream stream(&buf);
        copy->writeCsv(stream, utf8ToGbk("时间(秒)"), columns);
        stream.flush();
        const bool ok = buf.ok() && out->commit();
        QMetaObject::invokeMethod(
            this, [this, ok] { csvExported(ok); }, Qt::QueuedConnection);
    });
}

void PlotWindow::csvExported(bool ok)
{
    if (exportThread_.joinable()) exportThread_.join();
    csvButton_->setEnabled(true);
    if (!ok) dialogs_.error(QStringLiteral("写入文件时出错!"));
}

void PlotWindow::btnPlotPngClick()
{
    const auto path = dialogs_.saveFile(kPngFilter, QStringLiteral("png"), QStringLiteral("变量曲线.png"));
    if (!path || !dialogs_.confirmOverwrite(*path)) return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    chartArea_->grab().save(&buffer, "PNG");
    std::string error;
    if (bytes.isEmpty() || !writeWholeFile(localPath(*path), std::string_view(bytes.constData(), bytes.size()), error))
        dialogs_.error(QStringLiteral("写入文件时出错!"));
}

} // namespace quillon::vars
