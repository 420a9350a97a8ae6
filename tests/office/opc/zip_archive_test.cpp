// The zip container under the package layer, checked against libzip as an independent reader and
// writer, and against archives built byte by byte for what libzip will not write.
#include "office/opc/package.h"
#include "office/opc/zip_archive.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>

using lf::opc::Package;
using lf::opc::PackageError;
namespace zipfmt = lf::opc::zip;
namespace fs = std::filesystem;

namespace {

const std::string kTypes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                           "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";

std::uint32_t crc32(std::string_view data) {
    std::uint32_t crc = 0xffffffffu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put16(std::string& s, std::uint64_t v) {
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>((v >> 8) & 0xff));
}
void put32(std::string& s, std::uint64_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}
void put64(std::string& s, std::uint64_t v) {
    put32(s, v & 0xffffffffu);
    put32(s, v >> 32);
}

std::string localHeader(const std::string& name, std::string_view data, std::uint16_t flags = 0) {
    std::string s;
    put32(s, 0x04034b50);
    put16(s, 20);
    put16(s, flags);
    put16(s, 0); // stored
    put32(s, 0);
    put32(s, crc32(data));
    put32(s, data.size());
    put32(s, data.size());
    put16(s, name.size());
    put16(s, 0);
    return s + name;
}

// A central record of a stored entry; with zip64, its sizes and offset sit in the zip64 extra field.
std::string centralRecord(const std::string& name, std::string_view data, std::uint64_t offset,
                          bool zip64 = false, std::uint16_t flags = 0) {
    std::string s;
    put32(s, 0x02014b50);
    put16(s, 0x031e);
    put16(s, zip64 ? 45 : 20);
    put16(s, flags);
    put16(s, 0);
    put32(s, 0);
    put32(s, crc32(data));
    put32(s, zip64 ? 0xffffffffu : data.size());
    put32(s, zip64 ? 0xffffffffu : data.size());
    put16(s, name.size());
    put16(s, zip64 ? 28 : 0);
    put16(s, 0);
    put16(s, 0);
    put16(s, 0);
    put32(s, 0);
    put32(s, zip64 ? 0xffffffffu : offset);
    s += name;
    if (zip64) {
        put16(s, 1);
        put16(s, 24);
        put64(s, data.size());
        put64(s, data.size());
        put64(s, offset);
    }
    return s;
}

std::string endRecord(std::uint64_t count, std::uint64_t size, std::uint64_t offset) {
    std::string s;
    put32(s, 0x06054b50);
    put32(s, 0);
    put16(s, count);
    put16(s, count);
    put32(s, size);
    put32(s, offset);
    put16(s, 0);
    return s;
}

std::string refusal(const fs::path& file) {
    try {
        auto p = Package::open(file);
        for (const std::string& name : p->partNames())
            (void)p->readPart(name);
    } catch (const PackageError& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(ZipContainer, KeepsFolderEntriesCommentsExtraFieldsAndLegacyNamesThroughASave) {
    lf::test::TempDir tmp;
    const fs::path file = tmp / "kept.pptx";
    {
        int err = 0;
        zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
        ASSERT_NE(z, nullptr);
        const std::string a = "<a>kept</a>", b = "<b>changed</b>", legacy = "<c/>";
        zip_file_add(z, "[Content_Types].xml", zip_source_buffer(z, kTypes.data(), kTypes.size(), 0), 0);
        ASSERT_GE(zip_dir_add(z, "ppt", 0), 0);
        const zip_int64_t ia = zip_file_add(z, "ppt/a.xml", zip_source_buffer(z, a.data(), a.size(), 0), 0);
        zip_file_add(z, "ppt/b.xml", zip_source_buffer(z, b.data(), b.size(), 0), 0);
        // "café.xml" in the legacy code page, without the UTF-8 flag.
        ASSERT_GE(zip_file_add(z, "ppt/caf\x82.xml", zip_source_buffer(z, legacy.data(), legacy.size(), 0),
                               ZIP_FL_ENC_CP437),
                  0);
        const zip_uint8_t field[] = {1, 2, 3, 4};
        ASSERT_EQ(zip_file_extra_field_set(z, static_cast<zip_uint64_t>(ia), 0x6c66, ZIP_EXTRA_FIELD_NEW,
                                           field, sizeof field, ZIP_FL_CENTRAL | ZIP_FL_LOCAL),
                  0);
        zip_set_archive_comment(z, "course archive", 14);
        ASSERT_EQ(zip_close(z), 0);
    }
    auto p = Package::open(file);
    EXPECT_TRUE(p->hasPart("/ppt/caf\xc3\xa9.xml"));
    EXPECT_EQ(p->readPart("/ppt/caf\xc3\xa9.xml"), "<c/>");
    p->xmlPart("/ppt/b.xml").document_element().append_attribute("x") = "1";
    p->markChanged("/ppt/b.xml");
    p->save();

    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    ASSERT_NE(z, nullptr) << err;
    EXPECT_EQ(zip_get_num_entries(z, 0), 5);
    EXPECT_GE(zip_name_locate(z, "ppt/", 0), 0) << "the folder entry was dropped";
    int length = 0;
    const char* comment = zip_get_archive_comment(z, &length, 0);
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(std::string(comment, static_cast<std::size_t>(length)), "course archive");
    const zip_int64_t ia = zip_name_locate(z, "ppt/a.xml", 0);
    zip_uint16_t fieldLength = 0;
    const zip_uint8_t* field = zip_file_extra_field_get_by_id(z, static_cast<zip_uint64_t>(ia), 0x6c66, 0,
                                                              &fieldLength, ZIP_FL_CENTRAL);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(fieldLength, 4);
    EXPECT_EQ(field[3], 4);
    const char* stored = zip_get_name(z, 4, ZIP_FL_ENC_RAW);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::string(stored), "ppt/caf\x82.xml") << "the stored name was rewritten";
    zip_discard(z);
    EXPECT_NE(Package::open(file)->readPart("/ppt/b.xml").find("x=\"1\""), std::string::npos);
}

TEST(ZipContainer, ReadsZip64RecordsAndWritesThemPastSixtyFiveThousandEntries) {
    lf::test::TempDir tmp;
    // Sizes and offsets in the zip64 extra field, the counts in a zip64 end record.
    std::string archive;
    std::string central;
    const std::vector<std::pair<std::string, std::string>> parts = {{"[Content_Types].xml", kTypes},
                                                                    {"ppt/a.xml", "<a>wide</a>"}};
    for (const auto& [name, data] : parts) {
        central += centralRecord(name, data, archive.size(), true);
        archive += localHeader(name, data) + data;
    }
    const std::uint64_t directoryOffset = archive.size();
    archive += central;
    const std::uint64_t end64 = archive.size();
    put32(archive, 0x06064b50);
    put64(archive, 44);
    put16(archive, 0x031e);
    put16(archive, 45);
    put32(archive, 0);
    put32(archive, 0);
    put64(archive, parts.size());
    put64(archive, parts.size());
    put64(archive, central.size());
    put64(archive, directoryOffset);
    put32(archive, 0x07064b50);
    put32(archive, 0);
    put64(archive, end64);
    put32(archive, 1);
    archive += endRecord(0xffff, 0xffffffffu, 0xffffffffu);
    lf::test::writeFile(tmp / "wide.pptx", archive);
    EXPECT_EQ(Package::open(tmp / "wide.pptx")->readPart("/ppt/a.xml"), "<a>wide</a>");

    // More entries than a 16-bit count holds: the writer adds the zip64 end records.
    zipfmt::Writer writer;
    const int count = 70000;
    for (int i = 0; i < count; ++i)
        writer.add("p/" + std::to_string(i) + ".txt", std::to_string(i));
    const std::string many = writer.finish();
    const zipfmt::Directory directory = zipfmt::readDirectory(many, 100000);
    ASSERT_EQ(directory.entries.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(zipfmt::readData(many, directory.entries[69999]), "69999");
    lf::test::writeFile(tmp / "many.zip", many);
    int err = 0;
    zip_t* z = zip_open((tmp / "many.zip").c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    ASSERT_NE(z, nullptr) << err;
    EXPECT_EQ(zip_get_num_entries(z, 0), count);
    zip_discard(z);
}

TEST(ZipContainer, RefusesOverlappingRecordsCutDataAndBadChecksums) {
    lf::test::TempDir tmp;
    // A second entry whose record lies inside the first one's data: the same bytes counted twice,
    // as non-recursive zip bombs do.
    const std::string inner = "<b/>";
    const std::string innerRecord = localHeader("ppt/b.xml", inner) + inner;
    std::string archive = localHeader("[Content_Types].xml", kTypes) + kTypes;
    const std::uint64_t outerOffset = archive.size();
    archive += localHeader("ppt/a.xml", innerRecord) + innerRecord;
    const std::uint64_t innerOffset = outerOffset + 30 + std::string("ppt/a.xml").size();
    std::string central = centralRecord("[Content_Types].xml", kTypes, 0) +
                          centralRecord("ppt/a.xml", innerRecord, outerOffset) +
                          centralRecord("ppt/b.xml", inner, innerOffset);
    const std::uint64_t directoryOffset = archive.size();
    archive += central + endRecord(3, central.size(), directoryOffset);
    lf::test::writeFile(tmp / "overlap.pptx", archive);
    EXPECT_NE(refusal(tmp / "overlap.pptx").find("overlap"), std::string::npos)
        << refusal(tmp / "overlap.pptx");

    // The same archive without the overlapping entry is sound.
    central = centralRecord("[Content_Types].xml", kTypes, 0) +
              centralRecord("ppt/a.xml", innerRecord, outerOffset);
    std::string sound =
        archive.substr(0, directoryOffset) + central + endRecord(2, central.size(), directoryOffset);
    lf::test::writeFile(tmp / "sound.pptx", sound);
    EXPECT_EQ(refusal(tmp / "sound.pptx"), "");

    // A changed byte of stored data: the checksum says so, naming the part.
    std::string flipped = sound;
    flipped[outerOffset + 30 + 9 + 35] ^= 0x20;
    lf::test::writeFile(tmp / "flipped.pptx", flipped);
    const std::string message = refusal(tmp / "flipped.pptx");
    EXPECT_NE(message.find("/ppt/a.xml is damaged (checksum mismatch)"), std::string::npos) << message;

    // A central directory that points past the end of the file.
    std::string cut = sound;
    cut.replace(cut.size() - 6, 4, std::string("\xff\xff\xff\x00", 4));
    lf::test::writeFile(tmp / "cut.pptx", cut);
    EXPECT_NE(refusal(tmp / "cut.pptx").find("truncated"), std::string::npos) << refusal(tmp / "cut.pptx");
}

TEST(ZipContainer, ReadsAndCopiesEntriesWithOrWithoutTheirDataDescriptors) {
    lf::test::TempDir tmp;
    // Streaming writers put zeros in the local header and the sizes after the data, with or without a
    // signature; a descriptor may also be missing. The central directory is what counts.
    const std::vector<std::pair<std::string, std::string>> parts = {{"[Content_Types].xml", kTypes},
                                                                    {"ppt/signed.xml", "<a>signed</a>"},
                                                                    {"ppt/bare.xml", "<b>bare</b>"},
                                                                    {"ppt/none.xml", "<c>none</c>"}};
    std::string archive, central;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto& [name, data] = parts[i];
        std::string local = localHeader(name, data, 0x0008);
        std::fill(local.begin() + 14, local.begin() + 26, '\0'); // crc and sizes come later
        central += centralRecord(name, data, archive.size(), false, 0x0008);
        archive += local + data;
        if (i == 1 || i == 0)
            put32(archive, 0x08074b50);
        if (i != 3) {
            put32(archive, crc32(data));
            put32(archive, data.size());
            put32(archive, data.size());
        }
    }
    const std::uint64_t directoryOffset = archive.size();
    archive += central + endRecord(parts.size(), central.size(), directoryOffset);
    const fs::path file = tmp / "streamed.pptx";
    lf::test::writeFile(file, archive);

    auto p = Package::open(file);
    EXPECT_EQ(p->readPart("/ppt/signed.xml"), "<a>signed</a>");
    EXPECT_EQ(p->readPart("/ppt/bare.xml"), "<b>bare</b>");
    EXPECT_EQ(p->readPart("/ppt/none.xml"), "<c>none</c>");
    p->xmlPart("/ppt/none.xml").document_element().append_attribute("x") = "1";
    p->markChanged("/ppt/none.xml");
    p->save();
    // The unchanged records, descriptors and all, are copied as they were.
    const std::string saved = lf::test::readFile(file);
    const std::size_t changedAt = archive.find("ppt/none.xml") - 30; // its local header
    EXPECT_EQ(saved.substr(0, changedAt), archive.substr(0, changedAt));
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    ASSERT_NE(z, nullptr) << err;
    EXPECT_EQ(zip_get_num_entries(z, 0), 4);
    zip_discard(z);
    EXPECT_EQ(Package::open(file)->readPart("/ppt/bare.xml"), "<b>bare</b>");
}
