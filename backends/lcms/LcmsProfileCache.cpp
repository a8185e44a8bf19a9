#include "backends/lcms/LcmsProfileCache.h"

#include "backends/lcms/LcmsProfileConverter.h"

#include <QHashFunctions>
#include <QRandomGenerator>
#include <algorithm>

namespace {

QColorSpace namedSpace(const QByteArray& profile) {
    const QColorSpace space = QColorSpace::fromIccProfile(profile);
    for (const auto named : {QColorSpace::SRgb, QColorSpace::DisplayP3}) {
        if (space.isValid() && space == QColorSpace(named)) {
            return QColorSpace(named);
        }
    }
    return {};
}

} // namespace

LcmsProfileCache::LcmsProfileCache(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1))
    , m_seeds{QRandomGenerator::system()->generate64(), QRandomGenerator::system()->generate64()} {}

LcmsProfileCache::Digest LcmsProfileCache::digest(const QByteArray& profile) const {
    // Seeded by this process alone, so no client can make two profiles that collide; Qt's
    // hash reads a lookup-table profile's 200 KB in about 20 us where SHA-256 took 1 ms,
    // and this runs at every capture.
    return {std::size_t(profile.size()), qHashBits(profile.constData(), profile.size(), m_seeds[0]),
            qHashBits(profile.constData(), profile.size(), m_seeds[1])};
}

LcmsProfileCache::Lookup LcmsProfileCache::lookup(const QByteArray& profile) {
    const Digest digest = this->digest(profile);
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                    [&](const Entry& entry) { return entry.digest == digest; });
    if (found != m_entries.end()) {
        m_entries.splice(m_entries.begin(), m_entries, found);
        return {found->space, found->converter, false};
    }
    Entry entry{digest, {}, LcmsProfileConverter::fromProfile(profile)};
    // Only what Little CMS reads as a matrix profile goes to Qt, which logs a warning of
    // its own for every profile it cannot read.
    if (entry.converter && entry.converter->isMatrixShaper()) {
        entry.space = namedSpace(profile);
        if (entry.space.isValid()) {
            entry.converter = nullptr;
        }
    }
    m_entries.push_front(entry);
    if (m_entries.size() > m_capacity) {
        m_entries.pop_back(); // snapshots still using it keep it alive
    }
    return {entry.space, entry.converter, true};
}

std::size_t LcmsProfileCache::size() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}
