#pragma once

class FastImportProcess;

// The fast-import processes that are running, least recently used
// first. Only a limited number of processes may run at once; making room
// stops the one used longest ago, which its repository starts again on its
// next write.
class ActiveProcessList
{
public:
    static constexpr int defaultCapacity = 100;

    static void touch(FastImportProcess *process);
    static void remove(FastImportProcess *process);

    static int capacity();
    static void setCapacity(int capacity);
    static int size();
};
