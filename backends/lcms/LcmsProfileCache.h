#pragma once

// Parsed profiles by their content, a few at a time. Any X client may set a profile
// property, so an endless run of distinct profiles must not stay in memory: the least
// recently used entry goes once `capacity` are kept. Entries are known by a digest of the
// bytes, not the bytes, so a 16 MiB profile costs 24 bytes once parsed; profiles Little
// CMS cannot use are remembered the same way (with no converter), so each is logged once
// while it is remembered.
//
// A profile that is exactly sRGB or Display P3 (as Qt reads it) is read by the colour
// model's own formulas for those spaces, so P3's red stays (1, 0, 0) rather than what
// Little CMS's rounding of the chromatic adaptation makes of it, a few 1e-4 off.

#include <QByteArray>
#include <QColorSpace>
#include <array>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

class LcmsProfileConverter;
class PixelColorConverter;

class LcmsProfileCache {
public:
    static constexpr std::size_t defaultCapacity = 8;

    struct Lookup {
        QColorSpace space; // sRGB or Display P3 for a profile that is exactly that
        // Otherwise the profile's transform; none when Little CMS cannot use it either.
        std::shared_ptr<const PixelColorConverter> converter;
        bool parsedNow = false; // not found in the cache

        bool usable() const { return space.isValid() || converter; }
    };

    explicit LcmsProfileCache(std::size_t capacity = defaultCapacity);

    // Any thread.
    Lookup lookup(const QByteArray& profile);
    std::size_t size() const;

private:
    // The size and two 64-bit hashes with seeds of this process.
    struct Digest {
        std::size_t size;
        std::size_t first;
        std::size_t second;
        friend bool operator==(const Digest&, const Digest&) = default;
    };
    Digest digest(const QByteArray& profile) const;

    struct Entry {
        Digest digest;
        QColorSpace space;
        std::shared_ptr<const LcmsProfileConverter> converter;
    };

    const std::size_t m_capacity;
    const std::array<std::size_t, 2> m_seeds;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // the most recently used first
};
