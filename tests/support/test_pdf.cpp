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

namespace {

// The standard output of a poppler tool; empty when it fails.
QString popplerOutput(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

std::string pdfText(const std::filesystem::path& pdf) {
    return popplerOutput("pdftotext", {"-enc", "UTF-8", QString::fromStdString(pdf.string()), "-"})
        .toStdString();
}

std::vector<std::string> pdfEmbeddedFonts(const std::filesystem::path& pdf) {
    // name, type (one or more words), encoding, emb, sub, uni, object, generation.
    const QRegularExpression row("^(\\S+)\\s.*\\s(yes|no)\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+\\s*$");
    std::vector<std::string> fonts;
    for (const QString& line :
         popplerOutput("pdffonts", {QString::fromStdString(pdf.string())}).split('\n')) {
        const QRegularExpressionMatch m = row.match(line);
        if (m.hasMatch() && m.captured(2) == "yes")
            fonts.push_back(m.captured(1).section('+', -1).toStdString());
    }
    return fonts;
}

int postScriptPageCount(const std::string& postScript) {
    int pages = 0;
    for (std::size_t at = 0; (at = postScript.find("\n%%Page:", at)) != std::string::npos; ++at)
        ++pages;
    return pages;
}

} // namespace lf::test
