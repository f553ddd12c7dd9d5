#pragma once

#include <QHash>

#include <optional>
#include <utility>

// A map that forgets what has not been used for a while: values live in a
// recent and an older generation; when the recent one reaches its weight
// limit it becomes the older one and the former older one is dropped. A
// value found in the older generation moves back to the recent one. So the
// cache never weighs more than twice its limit, and what is used often stays.
template<typename Key, typename Value>
class BoundedCache
{
public:
    // Values weigh what their weight() says (1 to count values).
    explicit BoundedCache(qint64 limit) : m_limit(limit) {}

    // The value of key, or null; valid until the next insert.
    const Value *find(const Key &key)
    {
        auto recent = m_recent.constFind(key);
        if (recent != m_recent.constEnd())
            return &recent.value();
        auto older = m_older.find(key);
        if (older == m_older.end())
            return nullptr;
        Value value = std::move(older.value());
        const qint64 weight = value.weight();
        m_older.erase(older);
        m_olderWeight -= weight;
        return &*insertRecent(key, std::move(value), weight);
    }

    // Removes the value of key and gives it, to be changed and put back.
    std::optional<Value> take(const Key &key)
    {
        for (auto *generation : {&m_recent, &m_older}) {
            auto it = generation->find(key);
            if (it == generation->end())
                continue;
            std::optional<Value> value(std::move(it.value()));
            (generation == &m_recent ? m_recentWeight : m_olderWeight) -= value->weight();
            generation->erase(it);
            return value;
        }
        return std::nullopt;
    }

    void insert(const Key &key, Value value)
    {
        const qint64 weight = value.weight();
        auto older = m_older.find(key);
        if (older != m_older.end()) {
            m_olderWeight -= older.value().weight();
            m_older.erase(older);
        }
        auto recent = m_recent.find(key);
        if (recent != m_recent.end()) {
            m_recentWeight += weight - recent.value().weight();
            recent.value() = std::move(value);
            return;
        }
        insertRecent(key, std::move(value), weight);
    }

    void clear()
    {
        m_recent.clear();
        m_older.clear();
        m_recentWeight = m_olderWeight = 0;
    }

private:
    typename QHash<Key, Value>::iterator insertRecent(const Key &key, Value value, qint64 weight)
    {
        if (m_recentWeight + weight > m_limit && !m_recent.isEmpty()) {
            m_older = std::move(m_recent);
            m_olderWeight = m_recentWeight;
            m_recent = QHash<Key, Value>();
            m_recentWeight = 0;
        }
        m_recentWeight += weight;
        return m_recent.insert(key, std::move(value));
    }

    qint64 m_limit;
    QHash<Key, Value> m_recent;
    QHash<Key, Value> m_older;
    qint64 m_recentWeight = 0;
    qint64 m_olderWeight = 0;
};
