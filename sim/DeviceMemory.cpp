#include "DeviceMemory.h"

#include <algorithm>

namespace sim {

DeviceMemory::DeviceMemory() : m_regions{ { 0x0000000u, 0x200000u }, { 0x1000000u, 0x200000u } } { }

bool DeviceMemory::contains(quint32 address, quint64 length) const
{
    if (length == 0)
        return false;
    const quint64 end = quint64(address) + length;
    return std::any_of(m_regions.cbegin(), m_regions.cend(), [&](const Region &region) {
        return address >= region.start && end <= quint64(region.start) + region.size;
    });
}

bool DeviceMemory::write(quint32 address, QByteArrayView data)
{
    if (data.isEmpty())
        return true;
    if (!contains(address, quint64(data.size())))
        return false;
    qsizetype done = 0;
    while (done < data.size()) {
        const quint32 at = address + quint32(done);
        const quint32 pageIndex = at / PageSize;
        const quint32 offset = at % PageSize;
        const qsizetype chunk =
                std::min<qsizetype>(data.size() - done, qsizetype(PageSize - offset));
        QByteArray &page = m_pages[pageIndex];
        if (page.isEmpty())
            page = QByteArray(qsizetype(PageSize), char(ErasedByte));
        std::copy_n(data.data() + done, chunk, page.data() + offset);
        done += chunk;
    }
    return true;
}

QByteArray DeviceMemory::read(quint32 address, qsizetype length) const
{
    if (length <= 0)
        return {};
    const quint64 room = 0x100000000ull - address;
    const auto size = qsizetype(std::min<quint64>(quint64(length), room));
    QByteArray out(size, char(ErasedByte));
    qsizetype done = 0;
    while (done < size) {
        const quint32 at = address + quint32(done);
        const quint32 pageIndex = at / PageSize;
        const quint32 offset = at % PageSize;
        const qsizetype chunk = std::min<qsizetype>(size - done, qsizetype(PageSize - offset));
        const auto page = m_pages.constFind(pageIndex);
        if (page != m_pages.cend())
            std::copy_n(page->constData() + offset, chunk, out.data() + done);
        done += chunk;
    }
    return out;
}

} // namespace sim
