#include "test_pdf.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The standard output of a tool (qpdf exits 3 on mere warnings, so its exit code is not read); empty
// when it cannot run or crashes.
QByteArray output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return process.readAllStandardOutput();
}

// qpdf's JSON strings: "u:" text, "b:" bytes in hex, or a name or number as written.
std::string jsonText(const QJsonValue& value) {
    const QString text = value.toString();
    return (text.startsWith("u:") ? text.mid(2) : text).toStdString();
}

void readOutline(const QJsonArray& items, int level, std::vector<std::string>& outline) {
    for (const QJsonValue& item : items) {
        outline.push_back(std::string(std::size_t(level) * 2, ' ') + jsonText(item["title"]));
        readOutline(item["kids"].toArray(), level + 1, outline);
    }
}

} // namespace

std::string pdfText(const std::filesystem::path& pdf) {
    return output("pdftotext", {"-enc", "UTF-8", QString::fromStdString(pdf.string()), "-"}).toStdString();
}

std::vector<std::string> pdfEmbeddedFonts(const std::filesystem::path& pdf) {
    // name, type (one or more words), encoding, emb, sub, uni, object, generation.
    const QRegularExpression row("^(\\S+)\\s.*\\s(yes|no)\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+\\s*$");
    std::vector<std::string> fonts;
    for (const QString& line :
         QString::fromUtf8(output("pdffonts", {QString::fromStdString(pdf.string())})).split('\n')) {
        const QRegularExpressionMatch m = row.match(line);
        if (m.hasMatch() && m.captured(2) == "yes")
            fonts.push_back(m.captured(1).section('+', -1).toStdString());
    }
    return fonts;
}

PdfFacts readPdfFacts(const std::filesystem::path& pdf) {
    PdfFacts facts;
    const QString file = QString::fromStdString(pdf.string());
    for (const QString& line : QString::fromUtf8(output("pdfinfo", {file})).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            facts.info[line.left(colon).toStdString()] = line.mid(colon + 1).trimmed().toStdString();
    }
    const QJsonObject json =
        QJsonDocument::fromJson(
            output("qpdf", {"--json=2", "--json-key=outlines", "--json-key=qpdf", "--json-stream-data=inline",
                            "--decode-level=generalized", file}))
            .object();
    readOutline(json["outlines"].toArray(), 0, facts.outline);
    const QJsonObject objects = json["qpdf"].toArray().at(1).toObject();
    const QJsonObject catalog =
        objects["obj:" + objects["trailer"]["value"]["/Root"].toString()]["value"].toObject();
    facts.language = jsonText(catalog["/Lang"]);
    const QJsonValue metadata = objects["obj:" + catalog["/Metadata"].toString()]["stream"]["data"];
    facts.metadata = QByteArray::fromBase64(metadata.toString().toLatin1()).toStdString();
    return facts;
}

int postScriptPageCount(const std::string& postScript) {
    int pages = 0;
    for (std::size_t at = 0; (at = postScript.find("\n%%Page:", at)) != std::string::npos; ++at)
        ++pages;
    return pages;
}

} // namespace lf::test
