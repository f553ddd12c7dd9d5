#include "repository/ActiveProcessList.h"

#include "repository/FastImportRepository.h"

#include <QLinkedList>

namespace {

QLinkedList<FastImportRepository *> activeRepositories;
int processCapacity = ActiveProcessList::defaultCapacity;

} // namespace

void ActiveProcessList::touch(FastImportRepository *repository)
{
    activeRepositories.removeOne(repository);
    while (activeRepositories.size() >= processCapacity && !activeRepositories.isEmpty()) {
        FastImportRepository *leastRecentlyUsed = activeRepositories.takeFirst();
        leastRecentlyUsed->stopImportProcess();
    }
    activeRepositories.append(repository);
}

void ActiveProcessList::remove(FastImportRepository *repository)
{
    activeRepositories.removeOne(repository);
}

int ActiveProcessList::capacity()
{
    return processCapacity;
}

void ActiveProcessList::setCapacity(int capacity)
{
    processCapacity = capacity < 1 ? 1 : capacity;
}

int ActiveProcessList::size()
{
    return activeRepositories.size();
}
