#pragma once

#include <QHashFunctions>
#include <QtGlobal>

#include <algorithm>
#include <vector>

// A cache of values of a fixed size in a fixed number of places, all of them
// made (and so in memory) when the cache is: what it weighs is the same
// after ten revisions and after a million. A key may sit in any of the four
// places of its set, which its hash picks; a new key takes the one of them
// used longest ago. Nothing is allocated per value, so it holds several
// times as many as a hash map of the same memory, and stays fast when full.
template<typename Key, typename Value>
class FixedCache
{
public:
    // 2^placesLog2 places; at least one set of four.
    explicit FixedCache(int placesLog2)
        : m_places(size_t(1) << std::max(placesLog2, 2))
        , m_setMask((m_places.size() / ways) - 1)
    {
    }

    // The value of key, or null; valid until the next insert.
    const Value *find(const Key &key)
    {
        Place *set = setOf(key);
        for (int way = 0; way < ways; ++way) {
            if (set[way].used != 0 && set[way].key == key) {
                set[way].used = tick();
                return &set[way].value;
            }
        }
        return nullptr;
    }

    void insert(const Key &key, const Value &value)
    {
        Place *set = setOf(key);
        Place *chosen = &set[0];
        for (int way = 0; way < ways; ++way) {
            if (set[way].used != 0 && set[way].key == key) {
                chosen = &set[way];
                break;
            }
            if (set[way].used < chosen->used)
                chosen = &set[way];
        }
        chosen->key = key;
        chosen->value = value;
        chosen->used = tick();
    }

    void clear()
    {
        for (Place &place : m_places)
            place.used = 0;
    }

private:
    static constexpr int ways = 4;

    struct Place
    {
        Key key{};
        Value value{};
        quint32 used = 0; // when last used; 0: empty
    };

    Place *setOf(const Key &key)
    {
        return &m_places[(size_t(qHash(key, 0)) & m_setMask) * ways];
    }

    // The clock of uses; past its end it starts again at 1, and for a while
    // the oldest values of a set may outlive newer ones, which costs reads
    // but never gives a wrong value.
    quint32 tick()
    {
        if (++m_clock == 0)
            m_clock = 1;
        return m_clock;
    }

    std::vector<Place> m_places;
    size_t m_setMask;
    quint32 m_clock = 0;
};
