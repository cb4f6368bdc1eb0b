#pragma once

#include <QtGlobal>

#include <cstddef>
#include <initializer_list>

namespace Orvantel::DemoData {

/// splitmix64: small, fast and the same on every platform, so that a seed always
/// gives the same data.
class Random
{
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    /// A number in [0, bound).
    quint32 below(quint32 bound) { return quint32(((next() >> 32) * bound) >> 32); }

    /// A number in [low, high].
    int between(int low, int high) { return low + int(below(quint32(high - low + 1))); }

    /// True with the given probability in percent.
    bool percent(int p) { return below(100) < quint32(p); }

    /// An index drawn with the given relative weights.
    int weighted(std::initializer_list<int> weights)
    {
        int total = 0;
        for (int w : weights)
            total += w;
        int r = int(below(quint32(total)));
        int i = 0;
        for (int w : weights) {
            if (r < w)
                return i;
            r -= w;
            ++i;
        }
        return i - 1;
    }

    template<typename T, std::size_t N>
    const T &pick(const T (&items)[N])
    {
        return items[below(quint32(N))];
    }

private:
    quint64 m_state;
};

} // namespace Orvantel::DemoData
