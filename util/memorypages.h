#pragma once

#include "util/bytebudget.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <mutex>

// Pages kept in memory rather than in the page store, under the names their files would have, up to a budget of
// bytes; a page past the budget is refused and goes to the disk as before. Filled by the page writers' workers,
// emptied by the extraction thread: a harvest of many small pages would otherwise spend most of its time making,
// renaming and removing files.
class MemoryPages
{
public:
    struct Page
    {
        QString name;
        QByteArray text;
    };

    // Pages kept also count against `shared`, where one is given: they share it with the pages being fetched.
    explicit MemoryPages(qint64 budget, ByteBudget* shared = nullptr) : m_budget(budget), m_shared(shared) {}

    // Whether a page of that size would fit now. Memory saves a page the cost of its file, which counts for small
    // pages only: one larger than an eighth of the budget never does.
    bool hasRoom(qint64 bytes) const;
    // False, and nothing kept, when the page does not fit in what is left of the budget.
    bool put(const QString& name, const QByteArray& text);
    // Every page kept, by name; the store is empty after.
    QList<Page> takeAll();
    // Pages taken and not used up go back, for the next extraction.
    void giveBack(const QList<Page>& pages);

private:
    mutable std::mutex m_mutex;
    QMap<QString, QByteArray> m_pages;
    qint64 m_bytes = 0;
    const qint64 m_budget;
    ByteBudget* const m_shared;
};
