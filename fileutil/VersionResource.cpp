#include "VersionResource.h"

#include <QFile>
#include <QList>
#include <QtEndian>

#include <optional>

namespace velmar {

namespace {

constexpr quint32 kRtVersion = 16;
constexpr quint32 kVersionInfoName = 1;
constexpr quint32 kHighBit = 0x80000000u;
constexpr quint16 kPe32Magic = 0x10b;
constexpr quint16 kPe32PlusMagic = 0x20b;
constexpr int kResourceDirectoryIndex = 2;
// A version block states its own length in 16 bits; anything far larger is not one.
constexpr quint32 kMaxBlockSize = 1u << 20;

// Reads pieces of the file at given offsets; every read is checked against the file's size.
class FileReader {
public:
    explicit FileReader(QIODevice &device) : m_device(device), m_size(quint64(device.size())) {}

    std::optional<QByteArray> read(quint64 offset, quint64 length)
    {
        if (offset > m_size || length > m_size - offset)
            return std::nullopt;
        if (!m_device.seek(qint64(offset)))
            return std::nullopt;
        QByteArray bytes = m_device.read(qint64(length));
        if (quint64(bytes.size()) != length)
            return std::nullopt;
        return bytes;
    }

private:
    QIODevice &m_device;
    quint64 m_size;
};

quint16 u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

struct Section {
    quint32 virtualAddress;
    quint32 rawSize;
    quint32 rawOffset;
};

struct DirectoryEntry {
    quint32 name;
    quint32 offset;
};

class PeImage {
public:
    explicit PeImage(FileReader &reader) : m_reader(reader) {}

    // Reads the headers and the section table; false when the file is not a usable PE image.
    bool load()
    {
        const auto dos = m_reader.read(0, 64);
        if (!dos || dos->at(0) != 'M' || dos->at(1) != 'Z')
            return false;
        const quint32 peOffset = u32(*dos, 0x3c);
        const auto coff = m_reader.read(peOffset, 24);
        if (!coff || !coff->startsWith(QByteArrayLiteral("PE\0\0")))
            return false;
        const quint16 sectionCount = u16(*coff, 6);
        const quint16 optionalSize = u16(*coff, 20);
        const quint64 optionalOffset = quint64(peOffset) + 24;
        const auto optional = m_reader.read(optionalOffset, optionalSize);
        if (!optional || optional->size() < 2)
            return false;

        qsizetype countAt = 0;
        switch (u16(*optional, 0)) {
        case kPe32Magic:
            countAt = 92;
            break;
        case kPe32PlusMagic:
            countAt = 108;
            break;
        default:
            return false;
        }
        if (optional->size() < countAt + 4)
            return false;
        const quint32 directoryCount = u32(*optional, countAt);
        const qsizetype resourceAt = countAt + 4 + kResourceDirectoryIndex * 8;
        if (directoryCount <= quint32(kResourceDirectoryIndex) || optional->size() < resourceAt + 8)
            return false;
        m_resourceRva = u32(*optional, resourceAt);
        if (m_resourceRva == 0)
            return false;

        const auto table = m_reader.read(optionalOffset + optionalSize, quint64(sectionCount) * 40);
        if (!table)
            return false;
        for (int i = 0; i < sectionCount; ++i) {
            const qsizetype at = qsizetype(i) * 40;
            m_sections.append({u32(*table, at + 12), u32(*table, at + 16), u32(*table, at + 20)});
        }
        return true;
    }

    // The bytes at an address of the loaded image, when they are all stored in the file.
    std::optional<QByteArray> readRva(quint64 rva, quint64 length)
    {
        for (const Section &s : m_sections) {
            if (rva < s.virtualAddress)
                continue;
            const quint64 into = rva - s.virtualAddress;
            if (into > s.rawSize || length > s.rawSize - into)
                continue;
            return m_reader.read(quint64(s.rawOffset) + into, length);
        }
        return std::nullopt;
    }

    // The entries of the resource directory at an offset within the resource section.
    std::optional<QList<DirectoryEntry>> directory(quint32 offset)
    {
        const quint64 at = quint64(m_resourceRva) + offset;
        const auto head = readRva(at, 16);
        if (!head)
            return std::nullopt;
        const quint64 count = quint64(u16(*head, 12)) + u16(*head, 14);
        const auto raw = readRva(at + 16, count * 8);
        if (!raw)
            return std::nullopt;
        QList<DirectoryEntry> entries;
        entries.reserve(qsizetype(count));
        for (quint64 i = 0; i < count; ++i)
            entries.append({u32(*raw, qsizetype(i * 8)), u32(*raw, qsizetype(i * 8 + 4))});
        return entries;
    }

    std::optional<QByteArray> versionBlock()
    {
        // Type, then name, then language; the first two levels must lead to subdirectories.
        const auto types = directory(0);
        if (!types)
            return std::nullopt;
        const auto names = subdirectory(*types, kRtVersion);
        if (!names)
            return std::nullopt;
        const auto languages = subdirectory(*names, kVersionInfoName);
        if (!languages || languages->isEmpty() || (languages->first().offset & kHighBit))
            return std::nullopt;
        const auto data = readRva(quint64(m_resourceRva) + languages->first().offset, 16);
        if (!data)
            return std::nullopt;
        const quint32 size = u32(*data, 4);
        if (size == 0 || size > kMaxBlockSize)
            return std::nullopt;
        return readRva(u32(*data, 0), size);
    }

private:
    std::optional<QList<DirectoryEntry>> subdirectory(const QList<DirectoryEntry> &entries, quint32 id)
    {
        for (const DirectoryEntry &e : entries) {
            if (!(e.name & kHighBit) && e.name == id)
                return (e.offset & kHighBit) ? directory(e.offset & ~kHighBit) : std::nullopt;
        }
        return std::nullopt;
    }

    FileReader &m_reader;
    quint32 m_resourceRva = 0;
    QList<Section> m_sections;
};

}  // namespace

QByteArray readVersionResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readVersionResource(file);
}

QByteArray readVersionResource(QIODevice &device)
{
    if (!device.isOpen() || device.isSequential())
        return {};
    FileReader reader(device);
    PeImage image(reader);
    if (!image.load())
        return {};
    return image.versionBlock().value_or(QByteArray());
}

}  // namespace velmar
