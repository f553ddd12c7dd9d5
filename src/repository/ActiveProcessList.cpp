#include "repository/ActiveProcessList.h"

#include "repository/FastImportProcess.h"

#include <QLinkedList>

namespace {

QLinkedList<FastImportProcess *> activeProcesses;
int processCapacity = ActiveProcessList::defaultCapacity;

} // namespace

void ActiveProcessList::touch(FastImportProcess *process)
{
    activeProcesses.removeOne(process);
    while (activeProcesses.size() >= processCapacity && !activeProcesses.isEmpty()) {
        FastImportProcess *leastRecentlyUsed = activeProcesses.takeFirst();
        leastRecentlyUsed->stop();
    }
    activeProcesses.append(process);
}

void ActiveProcessList::remove(FastImportProcess *process)
{
    activeProcesses.removeOne(process);
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
    return activeProcesses.size();
}
