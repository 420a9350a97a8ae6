#include "test_pdf.h"

#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>

namespace lf::test {

void writeTestPdf(const std::filesystem::path& file, int pages) {
    QPdfWriter writer(QString::fromStdString(file.string()));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setTitle("Test PDF");
    QPainter painter(&writer);
    painter.setFont(QFont("DejaVu Sans", 28));
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        const QRect band(0, 0, writer.width(), writer.height() / 3);
        painter.drawRect(band.adjusted(0, 0, -1, -1));
        painter.drawText(band, Qt::AlignCenter, QString("Page %1").arg(page));
    }
}

int pdfPageCount(const std::filesystem::path& pdf) {
    QProcess info;
    info.start("pdfinfo", {QString::fromStdString(pdf.string())});
    if (!info.waitForFinished(60000) || info.exitStatus() != QProcess::NormalExit || info.exitCode() != 0)
        return -1;
    const QRegularExpressionMatch m =
        QRegularExpression("^Pages:\\s+(\\d+)", QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(info.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

int postScriptPageCount(const std::string& postScript) {
    int pages = 0;
    for (std::size_t at = 0; (at = postScript.find("\n%%Page:", at)) != std::string::npos; ++at)
        ++pages;
    return pages;
}

} // namespace lf::test
