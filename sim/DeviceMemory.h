#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QtGlobal>

namespace sim {

// The device's flash as far as downloads see it: a backup area at 0 and the main area at
// 0x1000000, 2 MiB each. Stored sparsely in 64 KiB pages that come into being on first write;
// every byte never written reads 0xFF, as erased flash does.
class DeviceMemory
{
public:
    struct Region
    {
        quint32 start = 0;
        quint32 size = 0;
    };

    static constexpr quint32 PageSize = 0x10000;
    static constexpr quint8 ErasedByte = 0xFF;

    DeviceMemory();

    // True when [address, address + length) lies inside one region (length 0 never does).
    bool contains(quint32 address, quint64 length) const;

    // Writes all of data or nothing: false when the range is not inside one region.
    bool write(quint32 address, QByteArrayView data);
    // Any range of the 32-bit address space; bytes outside the regions read as erased too.
    // The range is clipped at the end of the address space; a negative length gives nothing.
    QByteArray read(quint32 address, qsizetype length) const;

    void erase() { m_pages.clear(); }
    qsizetype pageCount() const { return m_pages.size(); }

private:
    QList<Region> m_regions;
    QHash<quint32, QByteArray> m_pages;
};

} // namespace sim
