#include "office/opc/zip_archive.h"

#include "office/opc/utf8.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace lf::opc::zip {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kLocator64Signature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kUtf8NameFlag = 0x0800;
constexpr std::uint16_t kDescriptorFlag = 0x0008;
constexpr std::uint32_t kMax32 = 0xffffffffu;
constexpr std::uint16_t kMax16 = 0xffffu;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
// The fastest level: on slide parts it takes some 40% fewer instructions than the usual level 6, for
// parts about 5% larger; pictures and media, most of a deck's bytes, are copied as stored anyway.
constexpr int kDeflateLevel = 1;

const char* const kDamaged = "damaged zip package: its central directory does not match its entries";

std::uint16_t u16(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t u32(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint32_t>(u16(b, at)) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}
std::uint64_t u64(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint64_t>(u32(b, at)) | static_cast<std::uint64_t>(u32(b, at + 4)) << 32;
}

void put16(std::string& out, std::uint64_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>((v >> 8) & 0xff));
}
void put32(std::string& out, std::uint64_t v) {
    put16(out, v & 0xffff);
    put16(out, (v >> 16) & 0xffff);
}
void put64(std::string& out, std::uint64_t v) {
    put32(out, v & kMax32);
    put32(out, v >> 32);
}

// Bounds checks that cannot overflow: [at, at + length) lies within size.
bool fits(std::uint64_t at, std::uint64_t length, std::uint64_t size) {
    return at <= size && length <= size - at;
}

// Names without the UTF-8 flag are in the zip's legacy code page (437), unless they already are UTF-8.
std::string nameToUtf8(std::string_view raw, std::uint16_t flags) {
    if ((flags & kUtf8NameFlag) || isValidUtf8(raw))
        return std::string(raw);
    static const char16_t high[128] = {
        0xc7,   0xfc,   0xe9,   0xe2,   0xe4,   0xe0,   0xe5,   0xe7,   0xea,   0xeb,   0xe8,   0xef,
        0xee,   0xec,   0xc4,   0xc5,   0xc9,   0xe6,   0xc6,   0xf4,   0xf6,   0xf2,   0xfb,   0xf9,
        0xff,   0xd6,   0xdc,   0xa2,   0xa3,   0xa5,   0x20a7, 0x192,  0xe1,   0xed,   0xf3,   0xfa,
        0xf1,   0xd1,   0xaa,   0xba,   0xbf,   0x2310, 0xac,   0xbd,   0xbc,   0xa1,   0xab,   0xbb,
        0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
        0x255d, 0x255c, 0x255b, 0x2510, 0x2514, 0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f,
        0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256c, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
        0x2558, 0x2552, 0x2553, 0x256b, 0x256a, 0x2518, 0x250c, 0x2588, 0x2584, 0x258c, 0x2590, 0x2580,
        0x3b1,  0xdf,   0x393,  0x3c0,  0x3a3,  0x3c3,  0xb5,   0x3c4,  0x3a6,  0x398,  0x3a9,  0x3b4,
        0x221e, 0x3c6,  0x3b5,  0x2229, 0x2261, 0xb1,   0x2265, 0x2264, 0x2320, 0x2321, 0xf7,   0x2248,
        0xb0,   0x2219, 0xb7,   0x221a, 0x207f, 0xb2,   0x25a0, 0xa0};
    std::string out;
    for (char ch : raw) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const unsigned u = c < 0x80 ? c : high[c - 0x80];
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xe0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3f)));
        }
    }
    return out;
}

// The zip64 record of an extra field, if any, and the field without it.
struct SplitExtra {
    std::string_view zip64;
    std::string rest;
};

SplitExtra splitExtra(std::string_view extra) {
    SplitExtra split;
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const std::uint16_t id = u16(extra, at);
        const std::uint16_t length = u16(extra, at + 2);
        if (at + 4 + length > extra.size()) {
            // A truncated record: keep the bytes, as other readers do, but take no zip64 values from it.
            split.rest.append(extra.substr(at));
            return split;
        }
        if (id == kZip64ExtraId && split.zip64.empty())
            split.zip64 = extra.substr(at + 4, length);
        else
            split.rest.append(extra.substr(at, 4u + length));
        at += 4u + length;
    }
    split.rest.append(extra.substr(at));
    return split;
}

struct Deflater {
    libdeflate_compressor* compressor = nullptr;
    libdeflate_decompressor* decompressor = nullptr;
    ~Deflater() {
        if (compressor)
            libdeflate_free_compressor(compressor);
        if (decompressor)
            libdeflate_free_decompressor(decompressor);
    }
};

// One compressor and one decompressor per thread, kept for the life of the thread: setting them up
// costs more than deflating a typical part.
Deflater& deflater() {
    thread_local Deflater d;
    return d;
}

libdeflate_compressor* compressor() {
    Deflater& d = deflater();
    if (!d.compressor && !(d.compressor = libdeflate_alloc_compressor(kDeflateLevel)))
        throw FormatError("out of memory");
    return d.compressor;
}

libdeflate_decompressor* decompressor() {
    Deflater& d = deflater();
    if (!d.decompressor && !(d.decompressor = libdeflate_alloc_decompressor()))
        throw FormatError("out of memory");
    return d.decompressor;
}

struct End {
    std::uint64_t count = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    std::uint64_t directoryLimit = 0; // where the central directory must end
    std::string comment;
};

End readEnd(std::string_view a) {
    if (a.size() < kEndSize)
        throw FormatError("not a zip package, or truncated: no central directory found");
    // The end record is the last 22 bytes plus a comment of at most 64 KiB: search backwards.
    const std::uint64_t lowest = a.size() > kEndSize + kMax16 ? a.size() - kEndSize - kMax16 : 0;
    std::uint64_t at = a.size() - kEndSize;
    for (;;) {
        if (u32(a, at) == kEndSignature && at + kEndSize + u16(a, at + 20) <= a.size())
            break;
        if (at == lowest)
            throw FormatError("not a zip package, or truncated: no central directory found");
        --at;
    }
    End end;
    if (u16(a, at + 4) != 0 || u16(a, at + 6) != 0)
        throw FormatError("split or multi-disk zip archives are not supported");
    end.count = u16(a, at + 10);
    end.directorySize = u32(a, at + 12);
    end.directoryOffset = u32(a, at + 16);
    end.comment = std::string(a.substr(at + kEndSize, u16(a, at + 20)));
    end.directoryLimit = at;
    if (at >= 20 && u32(a, at - 20) == kLocator64Signature) {
        const std::uint64_t end64 = u64(a, at - 20 + 8);
        if (!fits(end64, 56, at - 20) || u32(a, end64) != kEnd64Signature)
            throw FormatError("damaged zip package: its zip64 end record is missing");
        if (u32(a, end64 + 16) != 0 || u32(a, end64 + 20) != 0)
            throw FormatError("split or multi-disk zip archives are not supported");
        end.count = u64(a, end64 + 32);
        end.directorySize = u64(a, end64 + 40);
        end.directoryOffset = u64(a, end64 + 48);
        end.directoryLimit = end64;
    }
    if (!fits(end.directoryOffset, end.directorySize, end.directoryLimit))
        throw FormatError("not a zip package, or truncated: its central directory lies outside the file");
    return end;
}

// Where an entry's local record ends: after its data, and after the data descriptor that follows
// the data when the entry has one (with or without its signature, with 32- or 64-bit sizes). A
// descriptor that is missing or disagrees with the central directory is not part of the record:
// readers go by the central directory, and so does this one.
std::uint64_t recordEnd(std::string_view a, const Entry& e, std::uint64_t limit, bool zip64) {
    const std::uint64_t dataEnd = e.dataOffset + e.compressedSize;
    if (!(e.flags & kDescriptorFlag))
        return dataEnd;
    for (const bool signature : {true, false}) {
        for (const bool wide : {zip64, !zip64}) {
            const std::uint64_t at = dataEnd + (signature ? 4 : 0);
            const std::uint64_t length = wide ? 20 : 12;
            if (!fits(dataEnd, (signature ? 4 : 0) + length, limit))
                continue;
            if (signature && u32(a, dataEnd) != kDescriptorSignature)
                continue;
            if (u32(a, at) != e.crc)
                continue;
            const std::uint64_t comp = wide ? u64(a, at + 4) : u32(a, at + 4);
            const std::uint64_t size = wide ? u64(a, at + 12) : u32(a, at + 8);
            if (comp == e.compressedSize && size == e.size)
                return at + length;
        }
    }
    return dataEnd;
}

} // namespace

Directory readDirectory(std::string_view a, std::uint64_t maxEntries) {
    const End end = readEnd(a);
    if (end.count > maxEntries)
        throw FormatError("too many entries (" + std::to_string(end.count) + ", at most " +
                          std::to_string(maxEntries) + ")");
    // Every central record takes at least 46 bytes: a count the directory cannot hold is a lie.
    if (end.count > end.directorySize / kCentralSize)
        throw FormatError(kDamaged);
    Directory directory;
    directory.comment = end.comment;
    directory.entries.reserve(static_cast<std::size_t>(end.count));
    const std::uint64_t limit = end.directoryOffset + end.directorySize;
    std::uint64_t at = end.directoryOffset;
    for (std::uint64_t i = 0; i < end.count; ++i) {
        if (!fits(at, kCentralSize, limit) || u32(a, at) != kCentralSignature)
            throw FormatError(kDamaged);
        Entry e;
        e.versionMadeBy = u16(a, at + 4);
        e.versionNeeded = u16(a, at + 6);
        e.flags = u16(a, at + 8);
        e.method = u16(a, at + 10);
        e.dosTime = u16(a, at + 12);
        e.dosDate = u16(a, at + 14);
        e.crc = u32(a, at + 16);
        e.compressedSize = u32(a, at + 20);
        e.size = u32(a, at + 24);
        const std::uint16_t nameLength = u16(a, at + 28);
        const std::uint16_t extraLength = u16(a, at + 30);
        const std::uint16_t commentLength = u16(a, at + 32);
        std::uint64_t disk = u16(a, at + 34);
        e.internalAttributes = u16(a, at + 36);
        e.externalAttributes = u32(a, at + 38);
        e.localOffset = u32(a, at + 42);
        if (!fits(at + kCentralSize, std::uint64_t(nameLength) + extraLength + commentLength, limit))
            throw FormatError(kDamaged);
        e.rawName = std::string(a.substr(at + kCentralSize, nameLength));
        e.name = nameToUtf8(e.rawName, e.flags);
        const SplitExtra extra = splitExtra(a.substr(at + kCentralSize + nameLength, extraLength));
        e.extra = extra.rest;
        e.comment = std::string(a.substr(at + kCentralSize + nameLength + extraLength, commentLength));
        // Values too large for their field are in the zip64 record, in this order.
        std::uint64_t z = 0;
        auto wide = [&](std::uint64_t& value) {
            if (z + 8 > extra.zip64.size())
                throw FormatError(kDamaged);
            value = u64(extra.zip64, z);
            z += 8;
        };
        if (e.size == kMax32)
            wide(e.size);
        if (e.compressedSize == kMax32)
            wide(e.compressedSize);
        if (e.localOffset == kMax32)
            wide(e.localOffset);
        if (disk == kMax16 && z + 4 <= extra.zip64.size())
            disk = u32(extra.zip64, z);
        if (disk != 0)
            throw FormatError("split or multi-disk zip archives are not supported");
        at += kCentralSize + nameLength + extraLength + commentLength;

        // The local header must agree with the central record.
        if (!fits(e.localOffset, kLocalSize, end.directoryOffset) || u32(a, e.localOffset) != kLocalSignature)
            throw FormatError(kDamaged);
        const std::uint64_t local = e.localOffset;
        const std::uint16_t localNameLength = u16(a, local + 26);
        const std::uint16_t localExtraLength = u16(a, local + 28);
        if (!fits(local + kLocalSize, std::uint64_t(localNameLength) + localExtraLength,
                  end.directoryOffset) ||
            a.substr(local + kLocalSize, localNameLength) != e.rawName || u16(a, local + 8) != e.method)
            throw FormatError(kDamaged);
        const SplitExtra localExtra =
            splitExtra(a.substr(local + kLocalSize + localNameLength, localExtraLength));
        if (!(u16(a, local + 6) & kDescriptorFlag)) {
            std::uint64_t localComp = u32(a, local + 18);
            std::uint64_t localSize = u32(a, local + 22);
            if ((localSize == kMax32 || localComp == kMax32) && localExtra.zip64.size() >= 16) {
                localSize = u64(localExtra.zip64, 0);
                localComp = u64(localExtra.zip64, 8);
            }
            if (u32(a, local + 14) != e.crc || localComp != e.compressedSize || localSize != e.size)
                throw FormatError(kDamaged);
        }
        e.dataOffset = local + kLocalSize + localNameLength + localExtraLength;
        if (!fits(e.dataOffset, e.compressedSize, end.directoryOffset))
            throw FormatError("truncated: the data of entry \"" + e.name + "\" is cut off");
        e.recordEnd = recordEnd(a, e, end.directoryOffset, !localExtra.zip64.empty());
        directory.entries.push_back(std::move(e));
    }
    // Records that share bytes are how a small file claims to hold far more than it does.
    std::vector<const Entry*> byOffset;
    byOffset.reserve(directory.entries.size());
    for (const Entry& e : directory.entries)
        byOffset.push_back(&e);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Entry* x, const Entry* y) { return x->localOffset < y->localOffset; });
    for (std::size_t i = 1; i < byOffset.size(); ++i)
        if (byOffset[i]->localOffset < byOffset[i - 1]->recordEnd)
            throw FormatError("damaged zip package: entries \"" + byOffset[i - 1]->name + "\" and \"" +
                              byOffset[i]->name + "\" overlap");
    return directory;
}

std::string readData(std::string_view a, const Entry& e) {
    const std::string_view data = a.substr(e.dataOffset, e.compressedSize);
    std::string out;
    if (e.method == kStored) {
        if (e.compressedSize != e.size)
            throw FormatError("is damaged: its stored size does not match its size");
        out.assign(data);
    } else if (e.method == kDeflated) {
        out.resize(e.size);
        std::size_t got = 0;
        const libdeflate_result result = libdeflate_deflate_decompress(
            decompressor(), data.data(), data.size(), out.data(), out.size(), &got);
        if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
            throw FormatError("inflates past its declared size");
        if (result != LIBDEFLATE_SUCCESS)
            throw FormatError("is damaged: its compressed data cannot be inflated");
        if (got != e.size)
            throw FormatError("is truncated");
    } else {
        throw FormatError("uses an unsupported compression method");
    }
    if (libdeflate_crc32(0, out.data(), out.size()) != e.crc)
        throw FormatError("is damaged (checksum mismatch)");
    return out;
}

Writer::Writer() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int year = std::clamp(local.tm_year + 1900, 1980, 2107);
    dosTime_ = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    dosDate_ = static_cast<std::uint16_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
}

Writer::~Writer() = default;

void Writer::reserve(std::size_t bytes) {
    out_.reserve(bytes);
}

void Writer::copy(std::string_view archive, const Entry& entry) {
    const std::uint64_t offset = out_.size();
    out_.append(archive.substr(entry.localOffset, entry.recordEnd - entry.localOffset));
    appendCentral(entry, offset);
}

void Writer::add(const std::string& name, std::string_view content) {
    Entry e;
    e.name = name;
    e.rawName = name;
    e.versionMadeBy = 0x031e; // Unix, 3.0
    e.versionNeeded = 20;
    e.flags = isValidUtf8(name) && std::any_of(name.begin(), name.end(), [](char c) { return c & 0x80; })
                  ? kUtf8NameFlag
                  : 0;
    e.dosTime = dosTime_;
    e.dosDate = dosDate_;
    e.externalAttributes = 0100644u << 16;
    e.crc = libdeflate_crc32(0, content.data(), content.size());
    e.size = content.size();

    // One buffer for every part deflated by this writer: it only grows.
    std::string& packed = packed_;
    packed.resize(std::max(packed.size(), libdeflate_deflate_compress_bound(compressor(), content.size())));
    std::size_t packedSize = content.empty()
                                 ? 0
                                 : libdeflate_deflate_compress(compressor(), content.data(), content.size(),
                                                               packed.data(), packed.size());
    std::string_view data = content;
    e.method = kStored;
    if (packedSize > 0 && packedSize < content.size()) {
        e.method = kDeflated;
        data = std::string_view(packed.data(), packedSize);
    }
    e.compressedSize = data.size();
    // A local header carries 32-bit sizes; the rare entry past them gets a zip64 record.
    const bool wide = e.size >= kMax32 || e.compressedSize >= kMax32;
    if (wide)
        e.versionNeeded = 45;

    const std::uint64_t offset = out_.size();
    put32(out_, kLocalSignature);
    put16(out_, e.versionNeeded);
    put16(out_, e.flags);
    put16(out_, e.method);
    put16(out_, e.dosTime);
    put16(out_, e.dosDate);
    put32(out_, e.crc);
    put32(out_, wide ? kMax32 : e.compressedSize);
    put32(out_, wide ? kMax32 : e.size);
    put16(out_, e.rawName.size());
    put16(out_, wide ? 20 : 0);
    out_.append(e.rawName);
    if (wide) {
        put16(out_, kZip64ExtraId);
        put16(out_, 16);
        put64(out_, e.size);
        put64(out_, e.compressedSize);
    }
    out_.append(data);
    appendCentral(e, offset);
}

void Writer::appendCentral(const Entry& e, std::uint64_t offset) {
    std::string zip64;
    if (e.size >= kMax32)
        put64(zip64, e.size);
    if (e.compressedSize >= kMax32)
        put64(zip64, e.compressedSize);
    if (offset >= kMax32)
        put64(zip64, offset);
    std::string extra;
    if (!zip64.empty()) {
        put16(extra, kZip64ExtraId);
        put16(extra, zip64.size());
        extra += zip64;
    }
    extra += e.extra;
    if (e.rawName.size() > kMax16 || extra.size() > kMax16 || e.comment.size() > kMax16)
        throw FormatError("entry \"" + e.name + "\" has a name, extra field or comment too long for a zip");
    put32(central_, kCentralSignature);
    put16(central_, e.versionMadeBy);
    put16(central_, zip64.empty() ? e.versionNeeded : std::max<std::uint16_t>(e.versionNeeded, 45));
    put16(central_, e.flags);
    put16(central_, e.method);
    put16(central_, e.dosTime);
    put16(central_, e.dosDate);
    put32(central_, e.crc);
    put32(central_, std::min<std::uint64_t>(e.compressedSize, kMax32));
    put32(central_, std::min<std::uint64_t>(e.size, kMax32));
    put16(central_, e.rawName.size());
    put16(central_, extra.size());
    put16(central_, e.comment.size());
    put16(central_, 0); // disk
    put16(central_, e.internalAttributes);
    put32(central_, e.externalAttributes);
    put32(central_, std::min<std::uint64_t>(offset, kMax32));
    central_ += e.rawName;
    central_ += extra;
    central_ += e.comment;
    ++count_;
}

std::string Writer::finish(const std::string& comment) {
    const std::uint64_t directoryOffset = out_.size();
    const std::uint64_t directorySize = central_.size();
    out_ += central_;
    const bool wide = count_ >= kMax16 || directoryOffset >= kMax32 || directorySize >= kMax32;
    if (wide) {
        const std::uint64_t end64 = out_.size();
        put32(out_, kEnd64Signature);
        put64(out_, 44);
        put16(out_, 0x031e);
        put16(out_, 45);
        put32(out_, 0);
        put32(out_, 0);
        put64(out_, count_);
        put64(out_, count_);
        put64(out_, directorySize);
        put64(out_, directoryOffset);
        put32(out_, kLocator64Signature);
        put32(out_, 0);
        put64(out_, end64);
        put32(out_, 1);
    }
    const std::string kept = comment.substr(0, kMax16);
    put32(out_, kEndSignature);
    put16(out_, 0);
    put16(out_, 0);
    put16(out_, std::min<std::uint64_t>(count_, kMax16));
    put16(out_, std::min<std::uint64_t>(count_, kMax16));
    put32(out_, std::min<std::uint64_t>(directorySize, kMax32));
    put32(out_, std::min<std::uint64_t>(directoryOffset, kMax32));
    put16(out_, kept.size());
    out_ += kept;
    std::string result = std::move(out_);
    out_.clear();
    central_.clear();
    count_ = 0;
    return result;
}

} // namespace lf::opc::zip
